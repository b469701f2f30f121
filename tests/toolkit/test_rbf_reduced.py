"""RbfMorph with a tolerance: the greedy selection meets its tolerance before the correction,
the correction makes every control exact and vanishes beyond its radius, the reduced part is
the interpolant on the chosen centres, affine motion is reproduced, centres and max_error say
what happened, the state pickles to the same bits, and the bits do not depend on the threads."""

import os
import pickle
import subprocess
import sys
import textwrap

import numpy as np
import pytest

import velk_morph


def sheet(count, seed=0):
    """Points on a thin curved sheet (a wing-like surface), bent and twisted smoothly."""
    rng = np.random.default_rng(seed)
    u, v = rng.uniform(0, 1, count), rng.uniform(0, 4, count)
    points = np.column_stack([u, 0.1 * np.sin(np.pi * u) * rng.choice([-1, 1], count), v])
    angle = 0.05 * points[:, 2]
    moves = np.column_stack([-points[:, 1] * angle, 0.02 * points[:, 2] ** 2 + points[:, 0] * angle,
                             np.zeros(count)])
    return points, moves


CONTROLS, MOVES = sheet(3000)
LARGEST = np.linalg.norm(MOVES, axis=1).max()


@pytest.fixture(scope="module")
def reduced():
    return velk_morph.RbfMorph(CONTROLS, MOVES, tolerance=1e-3)


def test_selection_tolerance_and_exact_controls(reduced):
    centres = reduced.centres
    assert centres.dtype == np.int64 and 4 <= len(centres) < len(CONTROLS) // 10
    assert len(set(centres.tolist())) == len(centres)
    # The first centre carries the largest displacement.
    assert centres[0] == np.argmax(np.linalg.norm(MOVES, axis=1))
    assert 0 < reduced.max_error <= 1e-3 * LARGEST
    assert np.abs(reduced.displacement(CONTROLS) - MOVES).max() <= 1e-10 * np.abs(MOVES).max()
    points = np.random.default_rng(1).uniform(-1, 5, size=(500, 3))
    assert np.array_equal(reduced.deform(points), points + reduced.displacement(points))


def test_tighter_tolerance_takes_more_centres_and_none_takes_all():
    counts = [len(velk_morph.RbfMorph(CONTROLS[:800], MOVES[:800], tolerance=t).centres)
              for t in (1e-1, 1e-3, 1e-5)]
    assert counts[0] < counts[1] < counts[2]
    full = velk_morph.RbfMorph(CONTROLS[:800], MOVES[:800])
    assert np.array_equal(full.centres, np.arange(800)) and full.max_error == 0.0
    assert full.correction_radius == 0.0


def test_far_from_the_controls_only_the_reduced_interpolant_remains(reduced):
    # Beyond the correction's radius from every control, the morph is the interpolant of the
    # chosen centres alone, which scipy computes independently.
    scipy = pytest.importorskip("scipy.interpolate")
    rng = np.random.default_rng(2)
    points = rng.uniform(-2, 6, size=(4000, 3))
    gap = np.min(np.linalg.norm(points[:, None, :] - CONTROLS[None, :, :], axis=2), axis=1)
    far = points[gap > reduced.correction_radius]
    near = CONTROLS[::10] + 0.1 * reduced.correction_radius
    assert len(far) > 100
    centres = reduced.centres
    interpolant = scipy.RBFInterpolator(CONTROLS[centres], MOVES[centres],
                                        kernel="thin_plate_spline", degree=1)
    np.testing.assert_allclose(reduced.displacement(far), interpolant(far), rtol=0,
                               atol=1e-9 * LARGEST)
    # Near the controls the correction is at work.
    assert np.abs(reduced.displacement(near) - interpolant(near)).max() > 1e-9 * LARGEST


@pytest.mark.parametrize("kernel, degree", [("thin_plate_spline", 1), ("cubic", 2), ("linear", 1)])
def test_affine_motion_is_reproduced_by_a_reduced_morph(kernel, degree):
    matrix = np.array([[0.1, 0.02, 0.0], [0.0, -0.05, 0.03], [0.01, 0.0, 0.2]])
    moves = CONTROLS @ matrix.T + [0.3, -0.1, 0.2]
    morph = velk_morph.RbfMorph(CONTROLS, moves, kernel=kernel, degree=degree, tolerance=1e-3)
    assert len(morph.centres) == (4 if degree == 1 else 10)
    points = np.random.default_rng(3).uniform(-5, 8, size=(300, 3))
    want = points @ matrix.T + [0.3, -0.1, 0.2]
    assert np.abs(morph.displacement(points) - want).max() <= 1e-9 * np.abs(want).max()


def test_a_reduced_morph_pickles_to_the_same_bits(reduced):
    copy = pickle.loads(pickle.dumps(reduced))
    points = np.random.default_rng(4).uniform(-1, 5, size=(1000, 3))
    assert copy.displacement(points).tobytes() == reduced.displacement(points).tobytes()
    assert np.array_equal(copy.centres, reduced.centres)
    assert (copy.max_error, copy.correction_radius) == (reduced.max_error, reduced.correction_radius)


def test_progress_of_a_reduced_morph_keeps_the_bits(reduced):
    points = np.random.default_rng(7).uniform(-1, 5, size=(200_000, 3))
    calls = []
    reported = reduced.deform(points, progress=lambda done, total: calls.append((done, total)))
    assert reported.tobytes() == reduced.deform(points).tobytes()
    done = [c[0] for c in calls]
    assert done == sorted(set(done)) and calls[-1] == (400_000, 400_000)
    with pytest.raises(TypeError):
        reduced.displacement(points[:5], progress=3)


@pytest.mark.parametrize("tolerance", [-1e-3, float("nan"), float("inf")])
def test_a_bad_tolerance_is_refused(tolerance):
    with pytest.raises(ValueError, match="tolerance must be a non-negative finite number"):
        velk_morph.RbfMorph(CONTROLS[:50], MOVES[:50], tolerance=tolerance)


def test_reduced_fit_with_a_flat_control_set_is_refused():
    flat = CONTROLS.copy()
    flat[:, 1] = 0.0
    with pytest.raises(ValueError, match="undetermined"):
        velk_morph.RbfMorph(flat, MOVES, tolerance=1e-3)


CHILD = textwrap.dedent("""
    import hashlib, sys, numpy as np, velk_morph
    sys.path.insert(0, sys.argv[1])
    from test_rbf_reduced import sheet
    controls, moves = sheet(6000, seed=5)
    morph = velk_morph.RbfMorph(controls, moves, tolerance=1e-4)
    points = np.random.default_rng(6).uniform(-1, 5, size=(5000, 3))
    print(hashlib.sha256(morph.centres.tobytes() + morph.displacement(points).tobytes()).hexdigest())
""")


def test_same_bits_at_any_thread_count():
    here = os.path.dirname(__file__)
    digests = set()
    for threads in ("1", "2", "7"):
        out = subprocess.run([sys.executable, "-c", CHILD, here], capture_output=True, text=True,
                             env=dict(os.environ, RAYON_NUM_THREADS=threads), timeout=300)
        assert out.returncode == 0, out.stderr
        digests.add(out.stdout)
    assert len(digests) == 1
