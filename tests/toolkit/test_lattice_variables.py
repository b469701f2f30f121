"""LatticeVariables: the moves against an independent numpy implementation (complex step for
the derivatives), layered values between stations, the stated order, the products through Ffd,
and refused input."""

import numpy as np
import pytest

import velk
import velk_morph

BLOCK = ([2.0, 1.0, 4.0], [0.5, 0.0, 2.0], [0.0, 0.0, 0.0], [3, 2, 4])


def interpolate(nodes, stations, along):
    """Per node, the weight of every station (linear between them, constant beyond)."""
    if stations is None:
        return np.ones((len(nodes), 1))
    t = nodes @ (np.asarray(along, float) / np.linalg.norm(along))
    eye = np.eye(len(stations))
    return np.stack([np.interp(t, stations, eye[s]) for s in range(len(stations))], axis=1)


class Reference:
    """The moves written out in numpy, applied in order; values may be complex."""

    def __init__(self, nodes):
        self.base, self.moves = np.asarray(nodes, float), []

    def add(self, kind, ids, vector, pivot=(0, 0, 0), stations=None, along=None):
        weights = interpolate(self.base[ids], stations, along)
        self.moves.append((kind, np.asarray(ids), np.asarray(vector, float),
                           np.asarray(pivot, float), weights))

    def lattice(self, values):
        p = self.base.astype(complex)
        first = 0
        for kind, ids, vector, pivot, weights in self.moves:
            count = weights.shape[1]
            value = weights @ values[first:first + count]
            first += count
            r = p[ids] - pivot
            if kind == "translate":
                p[ids] += value[:, None] * vector
            elif kind == "rotate":
                k = vector / np.linalg.norm(vector)
                a = (value * (np.pi / 180))[:, None]
                turned = (r * np.cos(a) + np.cross(k, r) * np.sin(a)
                          + k * (r @ k)[:, None] * (1 - np.cos(a)))
                p[ids] = pivot + turned
            else:
                p[ids] = pivot + r * np.where(vector != 0, 1 + value[:, None], 1)
        return p


@pytest.fixture
def design():
    ffd = velk_morph.Ffd(velk.DesignBlock(*BLOCK))
    nodes = ffd.nodes
    dv, ref = velk_morph.LatticeVariables(nodes), Reference(nodes)
    span = [0, 0, 1]
    tip = np.flatnonzero(nodes[:, 2] > 3.9)
    upper = np.flatnonzero(nodes[:, 1] > 0.4)
    moves = [
        ("scale", dict(node_ids=np.arange(len(nodes)), pivot=[-0.5, 0, 0], components=[1, 1, 0],
                       stations=[0.0, 4.0], along=span)),
        ("rotate", dict(node_ids=np.arange(len(nodes)), axis=[0, 0, 2], pivot=[0.0, 0.0, 0.0],
                        stations=[0.0, 1.5, 4.0], along=span)),
        ("translate", dict(node_ids=tip, direction=[0, 1, 0])),
        ("rotate", dict(node_ids=upper, axis=[1, 1, 0], pivot=[0.5, 0.5, 2.0])),
        ("translate", dict(node_ids=[5, 5, 17], direction=[0.3, -0.2, 1.0],
                           stations=[-1.0, 1.0], along=[1, 1, 1])),
    ]
    for kind, kwargs in moves:
        getattr(dv, kind)(**kwargs)
        ref.add(kind, np.unique(kwargs.pop("node_ids")), kwargs.pop(
            "direction", kwargs.pop("axis", kwargs.pop("components", None))), **kwargs)
    values = np.array([0.2, -0.1, 4.0, -8.0, 12.0, 0.3, 25.0, 0.05, -0.15])
    return ffd, dv, ref, values


def test_lattice_and_jacobian_match_the_reference_and_its_complex_step(design):
    ffd, dv, ref, values = design
    assert dv.size == len(values)
    np.testing.assert_allclose(dv.lattice(values), ref.lattice(values).real, atol=1e-13)
    np.testing.assert_array_equal(dv.lattice(np.zeros(dv.size)), ffd.nodes)
    h = 1e-30
    expected = np.stack([ref.lattice(values + 1j * h * e).imag.ravel() / h
                         for e in np.eye(dv.size)], axis=1)
    jac = dv.jacobian(values)
    assert jac.shape == (3 * len(ffd.nodes), dv.size)
    assert np.abs(jac - expected).max() <= 1e-12 * np.abs(expected).max()


def test_products_through_the_deformation(design):
    ffd, dv, ref, values = design
    rng = np.random.default_rng(4)
    points = rng.uniform([-0.5, -0.5, 0.0], [1.5, 0.5, 4.0], size=(300, 3))
    chain = ffd.jacobian(points) @ dv.jacobian(values)
    tangent, cotangent = rng.normal(size=dv.size), rng.normal(size=points.shape)
    forward = dv.jvp(ffd, points, values, tangent)
    np.testing.assert_allclose(forward.ravel(), chain @ tangent, rtol=1e-12, atol=1e-13)
    reverse = dv.vjp(ffd, points, values, cotangent)
    np.testing.assert_allclose(reverse, chain.T @ cotangent.ravel(), rtol=1e-12)
    # The derivative describes the deformation: a small step in the variables moves the points by
    # the forward product, to second order.
    h = 1e-6
    step = (ffd.deform(points, dv.lattice(values + h * tangent))
            - ffd.deform(points, dv.lattice(values - h * tangent))) / (2 * h)
    np.testing.assert_allclose(step, forward, atol=1e-7)


def test_layered_values_interpolate_between_stations_and_hold_beyond():
    nodes = np.array([[0, 0, z] for z in (-1.0, 0.0, 0.5, 2.0, 3.0)])
    dv = velk_morph.LatticeVariables(nodes)
    assert dv.translate(range(5), direction=[0, 2, 0], stations=[0.0, 2.0],
                        along=[0, 0, 5]).tolist() == [0, 1]
    np.testing.assert_allclose(dv.lattice([1.0, 3.0])[:, 1], [2.0, 2.0, 3.0, 6.0, 6.0])


def test_moves_act_in_the_order_they_were_added():
    nodes = [[1.0, 0.0, 0.0]]
    first = velk_morph.LatticeVariables(nodes)
    first.translate([0], direction=[1, 0, 0])
    first.rotate([0], axis=[0, 0, 1], pivot=[0, 0, 0])
    second = velk_morph.LatticeVariables(nodes)
    second.rotate([0], axis=[0, 0, 1], pivot=[0, 0, 0])
    second.translate([0], direction=[1, 0, 0])
    np.testing.assert_allclose(first.lattice([1.0, 90.0]), [[0.0, 2.0, 0.0]], atol=1e-15)
    np.testing.assert_allclose(second.lattice([90.0, 1.0]), [[1.0, 1.0, 0.0]], atol=1e-15)


@pytest.mark.parametrize("call,error,text", [
    (lambda d, f: d.translate([0, 8], direction=[1, 0, 0]), ValueError, "node_ids"),
    (lambda d, f: d.translate([0], direction=[1, 0]), ValueError, "direction"),
    (lambda d, f: d.rotate([0], axis=[0, 0, 0], pivot=[0, 0, 0]), ValueError, "axis"),
    (lambda d, f: d.scale([0], pivot=[0, 0, 0], stations=[0, 1]), ValueError, "along"),
    (lambda d, f: d.scale([0], pivot=[0, 0, 0], stations=[1, 1], along=[0, 0, 1]), ValueError,
     "stations"),
    (lambda d, f: d.lattice([1.0, 2.0]), ValueError, "values"),
    (lambda d, f: d.jvp(f, [[0, 0, 0]], [0.0], [1.0, 2.0]), ValueError, "tangent"),
    (lambda d, f: d.vjp(f, [[0, 0, 0]], [0.0], [[0, 0, 0]] * 2), ValueError, "cotangent"),
    (lambda d, f: d.vjp(velk_morph.Ffd(velk.DesignBlock([1, 1, 1], [0, 0, 0], [0, 0, 0],
                                                        [2, 2, 2])),
                        [[0, 0, 0]], [0.0], [[0, 0, 0]]), ValueError, "27 lattice nodes"),
    (lambda d, f: d.jvp("ffd", [[0, 0, 0]], [0.0], [1.0]), TypeError, "Ffd"),
])
def test_refused_input(call, error, text):
    ffd = velk_morph.Ffd(velk.DesignBlock([1, 1, 1], [0, 0, 0], [0, 0, 0], [1, 1, 1]))
    dv = velk_morph.LatticeVariables(ffd.nodes)
    dv.translate([1], direction=[0, 0, 1])
    with pytest.raises(error, match=text):
        call(dv, ffd)
