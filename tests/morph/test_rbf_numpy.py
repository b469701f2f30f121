"""The RBF deformer against an independent numpy computation of the same standardisation and
kernel system, for each kernel, on random control points."""

import pytest

import velk
from reference import rbf_kernels

np = pytest.importorskip("numpy")

EPS = 2.220446049250313e-16

KERNELS = rbf_kernels(np)


def reference_deform(original, deformed, queries, kernel, epsilon):
    """Standardise per axis (population spread, 1.0 below 1e-8), solve the kernel system, predict,
    undo the standardisation."""
    x, y, q = (np.asarray(a, dtype=float) for a in (original, deformed, queries))
    in_mean, in_std = x.mean(0), x.std(0)
    in_std[in_std < 1e-8] = 1.0
    out_mean, out_std = y.mean(0), y.std(0)
    constant = out_std < 1e-8
    out_std[constant] = 1.0
    xs = (x - in_mean) / in_std
    ys = np.where(constant, 0.0, (y - out_mean) / out_std)
    qs = (q - in_mean) / in_std

    def squared(a, b):
        return np.maximum(((a[:, None, :] - b[None, :, :]) ** 2).sum(-1), EPS)

    phi = KERNELS[kernel]
    weights = np.linalg.solve(phi(squared(xs, xs), epsilon), ys)
    out = phi(squared(qs, xs), epsilon) @ weights
    return np.where(constant, out_mean, out * out_std + out_mean)


# Numbers of control points and epsilons that keep each kernel system well conditioned: the
# distance-power kernels are of low rank in 3-D, so they get few control points.
CASES = [
    ("gaussian", 300, 0.3),
    ("multiquadric", 300, 0.5),
    ("inverse_multiquadratic", 300, 1.0),
    ("thin_plate_spline", 200, 1.0),
    ("linear", 5, 1.0),
    ("cubic", 10, 1.0),
]


@pytest.mark.parametrize("kernel,count,epsilon", CASES)
def test_deform_agrees_with_numpy(kernel, count, epsilon):
    rng = np.random.default_rng(7)
    original = rng.uniform(-2.0, 3.0, (count, 3)) * [1.0, 10.0, 0.1]
    deformed = original + 0.2 * np.sin(original[:, [1, 2, 0]])
    queries = rng.uniform(-2.0, 3.0, (50, 3)) * [1.0, 10.0, 0.1]
    rbf = velk.RbfDeformer(original.tolist(), deformed.tolist(), kernel, epsilon)
    got = np.array(rbf.deform(queries.tolist()))
    want = reference_deform(original, deformed, queries, kernel, epsilon)
    scale = np.abs(want).max()
    assert np.abs(got - want).max() <= 1e-9 * scale
    # At the control points the deformer reproduces the deformed positions.
    at_controls = np.array(rbf.deform(original.tolist()))
    assert np.abs(at_controls - deformed).max() <= 1e-7 * np.abs(deformed).max()


def test_numpy_arrays_are_accepted_as_point_lists():
    pts = np.array([[0.0, 0.0, 0.0], [1.0, 0.0, 0.0], [0.0, 1.0, 0.0], [0.0, 0.0, 1.0]])
    rbf = velk.RbfDeformer(pts, pts + [1.0, 0.0, 0.0])
    assert np.allclose(rbf.deform(pts), pts + [1.0, 0.0, 0.0], atol=1e-12)
