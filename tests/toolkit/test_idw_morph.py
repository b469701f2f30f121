"""IdwMorph: the formula against numpy, exact displacements at the controls, the scaled fallback
where plain weights overflow or underflow, pickling, every refused input, the same bits at any
thread count and on both kernel paths, and progress reports that never change a result."""

import os
import pickle
import subprocess
import sys
import textwrap
import threading

import numpy as np
import pytest

import velk_morph

RNG = np.random.default_rng(5)
CONTROLS = RNG.normal(size=(300, 3))
MOVES = RNG.normal(size=(300, 3))
POINTS = RNG.normal(scale=2.0, size=(1001, 3))  # not a multiple of four: a padded last group


def numpy_idw(points, controls, moves, power):
    r = np.linalg.norm(points[:, None, :] - controls[None, :, :], axis=2)
    w = r ** -power
    return (w @ moves) / w.sum(axis=1)[:, None]


@pytest.mark.parametrize("power", [3.0, 2.0, 1.0, 0.5, 1.5, 2.25, 2.7, 7.0, 40.0])
def test_formula_matches_numpy(power):
    # Multiples of 1/2 up to 32 take the root-and-product weights, others std::pow.
    got = velk_morph.IdwMorph(CONTROLS, MOVES, power=power).displacement(POINTS)
    want = numpy_idw(POINTS, CONTROLS, MOVES, power)
    assert np.abs(got - want).max() <= 1e-12 * np.abs(MOVES).max()


@pytest.mark.parametrize("power", [3.0, 1.0, 2.7])
def test_controls_receive_their_displacement_bit_for_bit(power):
    controls = np.vstack([CONTROLS, [[0.0, -0.0, 1.0]]])
    moves = np.vstack([MOVES, [[1e-300, -5.0, 1e300]]])
    morph = velk_morph.IdwMorph(controls, moves, power=power)
    order = RNG.permutation(len(controls))
    mixed = np.vstack([controls[order], POINTS[:7], [[-0.0, 0.0, 1.0]]])
    got = morph.displacement(mixed)
    assert np.array_equal(got[: len(order)], moves[order])
    assert np.array_equal(got[-1], moves[-1])  # -0.0 and 0.0 are the same coordinate
    assert np.array_equal(morph.deform(mixed), mixed + got)


def test_points_where_plain_weights_fail_get_the_scaled_formula():
    controls = np.array([[0.0, 0.0, 0.0], [1.0, 0.0, 0.0], [0.0, 1.0, 0.0]])
    moves = np.array([[1.0, 2.0, 3.0], [-1.0, 0.0, 0.0], [0.0, 0.0, 5.0]])
    morph = velk_morph.IdwMorph(controls, moves)
    points = np.array([
        [1e-170, 0.0, 0.0],    # the squared distance underflows to 0, yet not a control
        [1e-120, 0.0, 0.0],    # the weight overflows
        [1e200, -3e200, 0.0],  # every weight underflows
        [1.0, 1e-310, 0.0],    # a subnormal step from a control
    ])
    got = morph.displacement(points)
    assert np.all(np.isfinite(got))
    np.testing.assert_allclose(got[0], moves[0], rtol=1e-15)
    np.testing.assert_allclose(got[1], moves[0], rtol=1e-15)
    # Far away all controls are about equally far: the weights tend to equal.
    np.testing.assert_allclose(got[2], moves.mean(axis=0), rtol=1e-9)
    np.testing.assert_allclose(got[3], moves[1], rtol=1e-15)


def test_huge_displacements_do_not_overflow():
    moves = np.array([[1e308, 0, 0], [1e308, 0, 0], [-1e308, 0, 0]])
    controls = np.eye(3)
    got = velk_morph.IdwMorph(controls, moves, power=2.0).displacement([[0.0, 0.0, 0.0]])
    assert got[0, 0] == pytest.approx(1e308 / 3, rel=1e-12)


def test_pickle_and_read_only_properties():
    morph = velk_morph.IdwMorph(CONTROLS, MOVES, power=2.5)
    copy = pickle.loads(pickle.dumps(morph))
    assert (copy.power, copy.n_controls) == (2.5, 300)
    assert np.array_equal(copy.displacement(POINTS), morph.displacement(POINTS))
    assert np.array_equal(copy.control_points, CONTROLS)
    assert np.array_equal(copy.displacements, MOVES)
    with pytest.raises(ValueError):
        copy.control_points[0, 0] = 1.0
    with pytest.raises(AttributeError):
        copy.power = 1.0
    assert repr(copy) == "IdwMorph(n_controls=300, power=2.5)"


def test_empty_point_set():
    out = velk_morph.IdwMorph(CONTROLS, MOVES).displacement(np.zeros((0, 3)))
    assert out.shape == (0, 3) and out.dtype == np.float64


BAD = CONTROLS[:5].copy()


def with_value(array, row, value):
    array = array.copy()
    array[row, 1] = value
    return array


@pytest.mark.parametrize("args, message", [
    ((with_value(BAD, 2, np.nan), BAD), "control_points must be finite, but row 2 holds NaN"),
    ((BAD, with_value(BAD, 3, -np.inf)), "displacements must be finite, but row 3 holds infinity"),
    ((BAD[:, :2], BAD), r"control_points must have shape \(N, 3\), got \(5, 2\)"),
    ((BAD, BAD.ravel()), r"displacements must have shape \(N, 3\), got \(15,\)"),
    ((BAD, BAD[:4]), "displacements has 4 rows but control_points has 5"),
    ((np.vstack([BAD, BAD[1]]), np.vstack([BAD, BAD[1]])), "control points 1 and 5 coincide"),
    ((np.vstack([BAD, BAD[3], BAD[0], BAD[3]]), np.zeros((8, 3))), "points 3 and 5 coincide"),
    ((np.zeros((0, 3)), np.zeros((0, 3))), "control_points holds no points"),
    ((BAD, BAD, 0.0), "power must be a positive finite number"),
    ((BAD, BAD, -1.0), "power must be a positive"),
    ((BAD, BAD, np.nan), "power must be a positive"),
    ((BAD, BAD, np.inf), "power must be a positive"),
])
def test_refused_input_names_the_argument(args, message):
    with pytest.raises(ValueError, match=message):
        velk_morph.IdwMorph(*args)


def test_refused_points_and_progress():
    morph = velk_morph.IdwMorph(BAD, BAD)
    with pytest.raises(ValueError, match="points must be finite, but row 1 holds NaN"):
        morph.deform([[0, 0, 0], [np.nan, 0, 0]])
    with pytest.raises(TypeError, match="progress must be None, a bool, or a callable"):
        morph.displacement(POINTS, progress="yes")


# The same evaluation in a child process per thread count and kernel path: a morph large enough
# for many blocks, points on controls, a non-multiple of four points, a std::pow power.
CHILD = textwrap.dedent("""
    import hashlib, numpy as np, velk_morph
    rng = np.random.default_rng(11)
    controls, moves = rng.normal(size=(2000, 3)), rng.normal(size=(2000, 3))
    points = np.vstack([rng.normal(size=(40003, 3)), controls[::7]])
    for power in (3.0, 2.7):
        morph = velk_morph.IdwMorph(controls, moves, power=power)
        print(hashlib.sha256(morph.deform(points).tobytes()).hexdigest())
""")


def test_same_bits_at_any_thread_count_and_on_both_kernel_paths():
    digests = set()
    for threads, plain in [("1", "0"), ("2", "0"), ("7", "0"), ("2", "1")]:
        env = dict(os.environ, RAYON_NUM_THREADS=threads, VELK_PLAIN_KERNELS=plain)
        out = subprocess.run([sys.executable, "-c", CHILD], env=env, capture_output=True,
                             text=True, timeout=300)
        assert out.returncode == 0, out.stderr
        digests.add(out.stdout)
    assert len(digests) == 1


@pytest.mark.parametrize("threads", ["1", "2"])
def test_progress_reports_from_the_calling_thread_and_keeps_the_bits(threads):
    script = textwrap.dedent("""
        import threading, numpy as np, velk_morph
        rng = np.random.default_rng(2)
        morph = velk_morph.IdwMorph(rng.normal(size=(3000, 3)), rng.normal(size=(3000, 3)))
        points = rng.normal(size=(30001, 3))
        calls = []
        def report(done, total):
            calls.append((done, total, threading.get_ident()))
        plain = morph.deform(points)
        reported = morph.deform(points, progress=report)
        assert np.array_equal(plain, reported)
        done = [c[0] for c in calls]
        assert calls and all(c[1] == 30001 for c in calls), calls
        assert done == sorted(set(done)) and done[-1] == 30001, done
        assert {c[2] for c in calls} == {threading.get_ident()}
        assert np.array_equal(morph.deform(points, progress=False), plain)
        print("ok")
    """)
    env = dict(os.environ, RAYON_NUM_THREADS=threads)
    out = subprocess.run([sys.executable, "-c", script], env=env, capture_output=True, text=True,
                         timeout=300)
    assert out.stdout.strip() == "ok", out.stderr


def test_an_exception_in_the_progress_callable_reaches_the_caller():
    morph = velk_morph.IdwMorph(CONTROLS, MOVES)

    class Stop(Exception):
        pass

    def stop(done, total):
        raise Stop(done)

    with pytest.raises(Stop):
        morph.displacement(RNG.normal(size=(50000, 3)), progress=stop)
    assert np.array_equal(morph.displacement(POINTS), morph.displacement(POINTS, progress=None))


def test_progress_bar_with_and_without_tqdm(refusal_without_tqdm):
    pytest.importorskip("tqdm")
    morph = velk_morph.IdwMorph(CONTROLS, MOVES)
    assert np.array_equal(morph.displacement(POINTS, progress=True), morph.displacement(POINTS))
    assert "tqdm is not installed" in refusal_without_tqdm(
        "velk_morph.IdwMorph([[0, 0, 0]], [[1, 0, 0]]).displacement([[1, 2, 3]], progress=True)")


def test_other_threads_run_during_a_long_evaluation():
    morph = velk_morph.IdwMorph(RNG.normal(size=(2000, 3)), RNG.normal(size=(2000, 3)))
    points = RNG.normal(size=(200000, 3))
    ticks = []
    stop = threading.Event()

    def count():
        while not stop.is_set():
            ticks.append(1)
            stop.wait(0.001)

    seen = []
    worker = threading.Thread(target=count)
    worker.start()
    morph.displacement(points, progress=lambda done, total: seen.append(len(ticks)))
    stop.set()
    worker.join()
    # The counting thread moved on between the first and the last report.
    assert len(seen) >= 2 and seen[-1] > seen[0]
