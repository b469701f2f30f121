"""An RBF fit either reproduces its control points or fails: the "linear" and "cubic" kernels
(squared and fourth powers of the distance) give singular matrices beyond a handful of points,
and their solutions must not be returned as a deformer that misses its own controls."""

import math

import numpy as np
import pytest

import velk

KERNELS = ["gaussian", "multiquadric", "inverse_multiquadratic", "linear", "cubic",
           "thin_plate_spline"]
# The fit's bound on a miss at a control point, relative to the controls' spread.
TOLERANCE = 1e-3


def cloud(count, seed):
    rng = np.random.default_rng(seed)
    original = rng.uniform(-2.0, 2.0, (count, 3))
    moved = original + 0.3 * np.sin(original[:, [1, 2, 0]] * 1.7)
    return original.tolist(), moved.tolist()


def fit(original, moved, kernel, epsilon=1.0):
    """The deformer, or the text of the construction's failure."""
    try:
        return velk.RbfDeformer(original, moved, kernel, epsilon)
    except BaseException as error:  # noqa: B036 - a failed fit is an internal failure
        assert type(error).__name__ == "PanicException", error
        return str(error)


@pytest.mark.parametrize("count", [4, 12, 40, 130])
@pytest.mark.parametrize("kernel", KERNELS)
def test_a_fit_that_succeeds_reproduces_its_controls(kernel, count):
    original, moved = cloud(count, count)
    rbf = fit(original, moved, kernel)
    if isinstance(rbf, str):
        assert "Failed to create RBF: Singular system: the solution misses control point" in rbf
        return
    out = np.array(rbf.deform(original))
    target = np.array(moved)
    spread = (target.max(0) - target.min(0)).max()
    assert np.abs(out - target).max() <= TOLERANCE * spread


@pytest.mark.parametrize("kernel,count", [("linear", 12), ("linear", 130), ("cubic", 60),
                                          ("cubic", 130)])
def test_linear_and_cubic_beyond_their_rank_fail_as_singular(kernel, count):
    # d² spans only 1, x, y, z and |x|² (rank 5); d⁴ spans polynomials of degree four (rank 35).
    original, moved = cloud(count, 5)
    text = fit(original, moved, kernel)
    assert isinstance(text, str)
    assert text.startswith("called `Result::unwrap()` on an `Err` value: Deformation(\"Failed to "
                           "create RBF: Singular system: the solution misses control point ")


@pytest.mark.parametrize("kernel", KERNELS)
def test_well_posed_small_fits_still_succeed_and_hit_their_controls(kernel):
    # Four points in general position: every kernel's matrix is regular here.
    original = [[0.0, 0.0, 0.0], [1.0, 0.0, 0.0], [0.0, 1.0, 0.0], [0.0, 0.0, 1.0]]
    moved = [[x + 0.5, y - 0.25 * x, z * 2.0] for x, y, z in original]
    out = fit(original, moved, kernel).deform(original)
    assert all(math.isclose(u, v, abs_tol=1e-9) for p, q in zip(out, moved) for u, v in zip(p, q))


def test_coincident_controls_going_apart_keep_failing_in_the_prediction():
    # Infinite weights give NaN at every point: the fit is kept and every deform fails loudly,
    # so no wrong number is ever returned.
    rbf = velk.RbfDeformer([[0.0, 0.0, 0.0]] * 2, [[0.0, 0.0, 0.0], [1.0, 2.0, 3.0]])
    with pytest.raises(ValueError, match="Prediction failed: NaN values in output"):
        rbf.deform([[0.0, 0.0, 0.0]])
