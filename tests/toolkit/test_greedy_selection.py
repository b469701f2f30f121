"""The greedy centre selection core, through a C++ driver: the fit on the selected centres is
the exact interpolant on them (scipy's RBFInterpolator on the same subset), the tolerance holds
at every control, affine motion is reproduced with only the polynomial's points, the residual it
reports is the true one, and controls that leave the polynomial undetermined are refused."""

import pathlib
import subprocess

import numpy as np
import pytest

ROOT = pathlib.Path(__file__).resolve().parents[2]

SOURCES = [ROOT / "src/morph_toolkit/greedy_selection.cpp", ROOT / "src/morph_toolkit/rbf_kernel.cpp",
           ROOT / "src/core/worker_pool.cpp",
           ROOT / "src/core/interrupt.cpp"]


@pytest.fixture(scope="module")
def driver(compile_driver):
    return compile_driver(ROOT / "tests/toolkit/greedy_driver.cpp", SOURCES, "-pthread")


def greedy(driver, controls, moves, queries, kernel="thin_plate_spline", epsilon=1.0, degree=1,
           tolerance=1e-3, memory_limit=1 << 30, threads="2"):
    lines = [f"{kernel} {epsilon!r} {degree} {tolerance!r} {memory_limit} {len(controls)}"]
    lines += [" ".join(map(repr, map(float, (*c, *d)))) for c, d in zip(controls, moves)]
    lines += [str(len(queries))] + [" ".join(map(repr, map(float, q))) for q in queries]
    out = subprocess.run([str(driver)], input="\n".join(lines), capture_output=True, text=True,
                         check=True, env={"RAYON_NUM_THREADS": threads}).stdout
    rows = [line.split() for line in out.splitlines()]
    if rows[0][0] in ("InvalidInput", "MemoryRefusal"):
        return {"error": out}
    pick = lambda tag: np.array([[float(v) for v in r[1:]] for r in rows if r[0] == tag])
    return {"centres": np.array([int(v) for v in rows[0][1:]]), "max_error": float(rows[1][1]),
            "stopped": rows[2][1] == "1", "running_error": float(rows[3][1]),
            "values": pick("value"), "residual": pick("residual"), "raw": out}


def wing_like(count, seed=0):
    """Points on a thin curved sheet, moved by a smooth bend and twist."""
    rng = np.random.default_rng(seed)
    u, v = rng.uniform(0, 1, count), rng.uniform(0, 4, count)
    points = np.column_stack([u, 0.1 * np.sin(np.pi * u) * rng.choice([-1, 1], count), v])
    angle = 0.05 * points[:, 2]
    moves = np.column_stack([-(points[:, 1]) * angle, 0.02 * points[:, 2] ** 2 + points[:, 0] * angle,
                             np.zeros(count)])
    return points, moves


@pytest.mark.parametrize("kernel, epsilon, degree", [
    ("thin_plate_spline", 1.0, 1), ("cubic", 1.0, 1), ("linear", 1.0, 0),
    ("gaussian", 2.0, -1), ("quintic", 1.0, 2), ("wendland_c2", 0.5, 1),
])
def test_reduced_fit_is_the_interpolant_on_its_centres(driver, kernel, epsilon, degree):
    scipy = pytest.importorskip("scipy.interpolate")
    controls, moves = wing_like(600)
    queries = np.random.default_rng(1).uniform(-1, 5, size=(50, 3))
    got = greedy(driver, controls, moves, queries, kernel, epsilon, degree, tolerance=1e-3)
    centres = got["centres"]
    assert len(set(centres)) == len(centres) < len(controls)
    want = scipy.RBFInterpolator(controls[centres], moves[centres], kernel=kernel,
                                 epsilon=epsilon if kernel != "wendland_c2" else 1.0,
                                 degree=degree) if kernel != "wendland_c2" else None
    if want is not None:
        scale = np.abs(moves).max()
        assert np.abs(got["values"] - want(queries)).max() <= 1e-8 * scale
    # The tolerance holds at every control, with the residual the driver recomputed.
    # The running residual of the selection is the true one (the expansion evaluated).
    assert got["running_error"] == pytest.approx(got["max_error"], rel=1e-6)
    if not got["stopped"]:
        assert got["max_error"] <= 1e-3 * np.linalg.norm(moves, axis=1).max() * (1 + 1e-9)
    # The selected centres are interpolated.
    assert np.abs(got["residual"][centres]).max() <= 1e-10 * np.abs(moves).max()


def test_tolerance_decides_how_many_centres(driver):
    controls, moves = wing_like(800, seed=3)
    counts = [len(greedy(driver, controls, moves, controls[:1], tolerance=t)["centres"])
              for t in (1e-1, 1e-2, 1e-4)]
    assert counts[0] < counts[1] < counts[2]


def test_affine_motion_needs_only_the_polynomial_points(driver):
    controls, _ = wing_like(300, seed=4)
    matrix = np.array([[0.1, 0.02, 0.0], [0.0, -0.05, 0.03], [0.01, 0.0, 0.2]])
    moves = controls @ matrix.T + [0.3, -0.1, 0.2]
    queries = np.random.default_rng(5).uniform(-3, 6, size=(40, 3))
    got = greedy(driver, controls, moves, queries, tolerance=1e-12)
    assert len(got["centres"]) == 4
    want = queries @ matrix.T + [0.3, -0.1, 0.2]
    assert np.abs(got["values"] - want).max() <= 1e-9 * np.abs(want).max()
    # The first centre is the control with the largest displacement.
    assert got["centres"][0] == np.argmax(np.linalg.norm(moves, axis=1))


def test_same_selection_and_bits_at_any_thread_count(driver):
    controls, moves = wing_like(5000, seed=6)
    runs = {greedy(driver, controls, moves, controls[:20], threads=t)["raw"] for t in ("1", "2", "7")}
    assert len(runs) == 1


@pytest.mark.parametrize("degree, controls", [
    (1, np.column_stack([np.random.default_rng(7).uniform(size=(50, 2)), np.zeros(50)])),
    (1, np.eye(3)),
    (2, np.column_stack([np.random.default_rng(8).uniform(size=(40, 2)), np.ones(40)])),
])
def test_controls_that_leave_the_polynomial_undetermined(driver, degree, controls):
    got = greedy(driver, controls, np.ones_like(controls), controls[:1], degree=degree)
    assert "InvalidInput control_points leave the polynomial of degree" in got["error"]


def test_memory_limit(driver):
    controls, moves = wing_like(400, seed=9)
    refused = greedy(driver, controls, moves, controls[:1], memory_limit=8 * 400 * 3)
    assert refused["error"].startswith("MemoryRefusal")
    # Room for 30 centres: the selection stops there and says so.
    got = greedy(driver, controls, moves, controls[:1], tolerance=1e-8, memory_limit=8 * 400 * 30)
    assert got["stopped"] and len(got["centres"]) == 30
    assert got["running_error"] == pytest.approx(got["max_error"], rel=1e-6)
