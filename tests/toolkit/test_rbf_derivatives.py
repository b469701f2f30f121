"""RbfMorph.jvp and RbfMorph.vjp: complex-step derivatives of an independent numpy fit, the
transpose identity (dense and sparse fits), the forward product as the morph of the tangent,
the same bits at any thread count and after pickling, and refused input."""

import pickle

import numpy as np
import pytest

import velk_morph

KERNELS = {  # name: (phi(r), epsilon, polynomial degree)
    "thin_plate_spline": (lambda r: np.where(r > 0, r**2 * np.log(np.where(r > 0, r, 1)), 0), 1.0, 1),
    "cubic": (lambda r: r**3, 1.3, 1),
    "gaussian": (lambda r: np.exp(-r**2), 1.5, -1),
    "wendland_c2": (lambda r: np.where(r < 1, (1 - r)**4 * (4 * r + 1), 0), 0.6, 0),
}


def reference_map(kernel, controls, points):
    """E A^-1 restricted to the displacements, from numpy's dense solve on complex arrays: the
    derivative of displacement(points) with respect to the displacements by complex step."""
    phi, eps, degree = KERNELS[kernel]
    n = len(controls)
    dist = lambda a, b: np.linalg.norm(a[:, None] - b[None], axis=2)  # noqa: E731
    poly = lambda x: np.hstack([np.ones((len(x), 1)), x])[:, :[0, 1, 4][degree + 1]]  # noqa: E731
    p = poly(controls)
    a = np.block([[phi(eps * dist(controls, controls)), p], [p.T, np.zeros((p.shape[1],) * 2)]])
    e = np.hstack([phi(eps * dist(points, controls)), poly(points)])
    h = 1e-30
    columns = []
    for j in range(n):
        rhs = np.zeros(len(a), complex)
        rhs[j] = 1j * h
        columns.append((e @ np.linalg.solve(a, rhs)).imag / h)
    return np.stack(columns, axis=1)  # (M, N), the same for every coordinate


@pytest.fixture(params=sorted(KERNELS))
def case(request):
    rng = np.random.default_rng(len(request.param))
    controls = rng.uniform(-1, 1, size=(30, 3))
    morph = velk_morph.RbfMorph(controls, rng.normal(scale=0.1, size=controls.shape),
                                kernel=request.param, epsilon=KERNELS[request.param][1],
                                degree=KERNELS[request.param][2])
    points = rng.uniform(-1.3, 1.3, size=(200, 3))
    return request.param, controls, morph, points, rng


def test_products_match_complex_step_of_a_numpy_fit(case):
    kernel, controls, morph, points, rng = case
    w = reference_map(kernel, controls, points)
    tangent, cotangent = rng.normal(size=controls.shape), rng.normal(size=points.shape)
    expected_forward, expected_reverse = w @ tangent, w.T @ cotangent
    # Both sides solve the same systems; these are conditioned well enough to agree to 1e-12.
    np.testing.assert_allclose(morph.jvp(points, tangent), expected_forward,
                               atol=1e-12 * np.abs(expected_forward).max())
    np.testing.assert_allclose(morph.vjp(points, cotangent), expected_reverse,
                               atol=1e-12 * np.abs(expected_reverse).max())


def test_the_products_are_transposes_and_the_forward_one_is_a_morph(case):
    kernel, controls, morph, points, rng = case
    tangent, cotangent = rng.normal(size=controls.shape), rng.normal(size=points.shape)
    forward = morph.jvp(points, tangent)
    a, b = np.vdot(forward, cotangent), np.vdot(tangent, morph.vjp(points, cotangent))
    assert abs(a - b) <= 1e-12 * abs(a)
    refit = velk_morph.RbfMorph(controls, tangent, kernel=kernel, epsilon=morph.epsilon,
                                degree=morph.degree)
    np.testing.assert_allclose(forward, refit.displacement(points), rtol=0,
                               atol=1e-12 * np.abs(forward).max())


def test_products_of_a_sparse_fit_are_transposes():
    rng = np.random.default_rng(11)
    controls = rng.uniform(-1, 1, size=(2500, 3))
    morph = velk_morph.RbfMorph(controls, np.zeros_like(controls), kernel="wendland_c2",
                                epsilon=3.0)
    points = rng.uniform(-1.2, 1.2, size=(5000, 3))
    tangent, cotangent = rng.normal(size=controls.shape), rng.normal(size=points.shape)
    a = np.vdot(morph.jvp(points, tangent), cotangent)
    assert abs(a - np.vdot(tangent, morph.vjp(points, cotangent))) <= 1e-12 * abs(a)


def test_a_pickled_morph_gives_the_same_bits(case):
    _, controls, morph, points, rng = case
    again = pickle.loads(pickle.dumps(morph))
    tangent, cotangent = rng.normal(size=controls.shape), rng.normal(size=points.shape)
    assert again.jvp(points, tangent).tobytes() == morph.jvp(points, tangent).tobytes()
    assert again.vjp(points, cotangent).tobytes() == morph.vjp(points, cotangent).tobytes()


def test_products_have_the_same_bits_at_any_thread_count(outputs_by_thread_count):
    code = """
import hashlib, numpy as np, velk_morph
rng = np.random.default_rng(5)
digest = hashlib.sha256()
for kernel, n, eps in (("thin_plate_spline", 300, 1.0), ("wendland_c2", 2200, 4.0)):
    controls = rng.uniform(-1, 1, size=(n, 3))
    morph = velk_morph.RbfMorph(controls, rng.normal(size=controls.shape), kernel=kernel,
                                epsilon=eps)
    points = rng.uniform(-1, 1, size=(20_000, 3))
    digest.update(morph.vjp(points, rng.normal(size=points.shape)).tobytes())
    digest.update(morph.jvp(points, rng.normal(size=controls.shape)).tobytes())
print(digest.hexdigest())
"""
    assert len(outputs_by_thread_count(code)) == 1


@pytest.mark.parametrize("call,name", [
    (lambda m: m.jvp(np.zeros((3, 3)), np.zeros((5, 3))), "tangent"),
    (lambda m: m.jvp(np.zeros((3, 2)), np.zeros((4, 3))), "points"),
    (lambda m: m.vjp(np.zeros((3, 3)), np.zeros((4, 3))), "cotangent"),
    (lambda m: m.vjp(np.zeros((3, 3)), np.full((3, 3), np.nan)), "cotangent"),
])
def test_wrong_input_is_a_value_error_naming_the_argument(call, name):
    morph = velk_morph.RbfMorph([[0, 0, 0], [1, 0, 0], [0, 1, 0], [0, 0, 1]], np.zeros((4, 3)))
    with pytest.raises(ValueError, match=name):
        call(morph)
    assert morph.vjp(np.zeros((0, 3)), np.zeros((0, 3))).shape == (4, 3)


def test_reduced_morph_products_are_those_of_the_reduced_map_with_its_correction():
    # With the selection fixed the reduced map is linear in the displacements, so its forward
    # product in the direction of the displacements themselves is the displacement; and the
    # reverse product is its transpose.
    rng = np.random.default_rng(11)
    controls = rng.uniform(-1, 1, size=(2500, 3))
    moves = 0.01 * np.sin(2 * controls)
    morph = velk_morph.RbfMorph(controls, moves, tolerance=1e-3)
    assert 0 < len(morph.centres) < len(controls)
    points = rng.uniform(-1.5, 1.5, size=(300, 3))
    expected = morph.displacement(points)
    np.testing.assert_allclose(morph.jvp(points, moves), expected, rtol=0,
                               atol=1e-9 * np.abs(expected).max())
    tangent, cotangent = rng.normal(size=(2500, 3)), rng.normal(size=(300, 3))
    pushed = morph.jvp(points, tangent)
    forward = np.vdot(pushed, cotangent)
    reverse = np.vdot(tangent, morph.vjp(points, cotangent))
    # The interpolant of the ~900 selected thin-plate centres has weights far larger than its
    # values, so evaluating it rounds at about 1e-13 of |jvp| |V|; this random sum cancels to a
    # few hundredths of that, so relative to it the two directions agree to about 1e-11.
    assert abs(forward - reverse) <= 1e-12 * np.linalg.norm(pushed) * np.linalg.norm(cotangent)
    assert abs(forward - reverse) <= 1e-10 * abs(forward)
