"""velk_morph.Ffd: velk's deformation bit for bit, and its derivatives against complex-step
derivatives of an independent numpy free-form deformation, the dot-product identity, the same
bits at any thread count, the sparse Jacobian and every refused input."""

import pickle

import numpy as np
import pytest

import velk
import velk_morph

BLOCKS = {
    "aligned": ([2, 2, 2], [0, 0, 0], [0, 0, 0], [2, 2, 2]),
    "one-angle": ([2, 3, 1.5], [0.1, -0.2, 0.3], [0, 0, 25], [3, 4, 2]),
    "three-angles": ([1.5, 2.5, 2], [0.3, 0.1, -0.4], [10, -20, 35], [4, 3, 5]),
}


def rotation(theta):
    ax, ay, az = np.radians(theta)
    rx = np.array([[1, 0, 0], [0, np.cos(ax), -np.sin(ax)], [0, np.sin(ax), np.cos(ax)]])
    ry = np.array([[np.cos(ay), 0, np.sin(ay)], [0, 1, 0], [-np.sin(ay), 0, np.cos(ay)]])
    rz = np.array([[np.cos(az), -np.sin(az), 0], [np.sin(az), np.cos(az), 0], [0, 0, 1]])
    return rx @ ry @ rz


class ReferenceFfd:
    """Free-form deformation from the block's geometry, written directly in numpy: the lattice
    parameters s = diag(1/l) R^T (p - c0), s' = s + sum_i B_i(s) diag(1/l) R^T (P'_i - P_i),
    r = c0 + R diag(l) s'. The moved nodes may be complex (complex step)."""

    def __init__(self, length, centre, theta, resolution):
        self.l, self.c = np.array(length, float), np.array(centre, float)
        self.r, self.n = rotation(theta), np.array(resolution)
        self.c0 = self.c + self.r @ (-self.l / 2)
        axes = [np.linspace(0, 1, k + 1) for k in self.n]
        grid = np.stack(np.meshgrid(*axes, indexing="ij"), axis=-1).reshape(-1, 3)
        self.nodes = self.c0 + (grid * self.l) @ self.r.T

    def weights(self, points):
        s = ((points - self.c0) @ self.r) / self.l
        inside = np.all((s >= 0) & (s <= 1), axis=1)
        per_axis = []
        for a, n in enumerate(self.n):
            i = np.arange(n + 1)
            binom = np.array([np.prod([(n - m) / (k - m) for m in range(k)]) for k in i])
            t = s[:, a:a + 1]
            per_axis.append(binom * t ** i * (1 - t) ** (n - i))
        bx, by, bz = per_axis
        w = np.einsum("pi,pj,pk->pijk", bx, by, bz).reshape(len(points), -1)
        return s, inside, w * inside[:, None]

    def deform(self, points, moved):
        s, inside, w = self.weights(points)
        d = ((moved - self.nodes) @ self.r) / self.l
        moved_points = self.c0 + ((s + w @ d) * self.l) @ self.r.T
        return np.where(inside[:, None], moved_points, points)


def sample_points(ref, rng, count=400):
    """Points inside and around the block (none on its faces)."""
    s = rng.uniform(-0.3, 1.3, size=(count, 3))
    return ref.c0 + (s * ref.l) @ ref.r.T


@pytest.fixture(params=sorted(BLOCKS))
def case(request):
    numbers = BLOCKS[request.param]
    rng = np.random.default_rng(len(request.param))
    ref = ReferenceFfd(*numbers)
    ffd = velk_morph.Ffd(velk.DesignBlock(*numbers))
    return ffd, ref, sample_points(ref, rng), rng


def complex_step_jacobian(ref, points):
    h = 1e-30
    columns = []
    for node in range(len(ref.nodes)):
        for b in range(3):
            moved = ref.nodes.astype(complex)
            moved[node, b] += 1j * h
            columns.append(ref.deform(points, moved).imag.ravel() / h)
    return np.stack(columns, axis=1)


def assert_close(actual, expected):
    scale = np.abs(expected).max()
    assert np.abs(actual - expected).max() <= 1e-12 * scale


def test_lattice_and_deformation_match_velk_bit_for_bit(case):
    ffd, ref, points, rng = case
    block = velk.DesignBlock(*ffd.__getstate__())
    assert ffd.nodes.tobytes() == np.array(block.nodes).tobytes()
    np.testing.assert_allclose(ffd.nodes, ref.nodes, atol=1e-12)
    moved = ffd.nodes + rng.normal(scale=0.1, size=ffd.nodes.shape)
    expected = np.array(velk.FreeFormDeformer(block).deform(points.tolist(), moved.tolist()))
    actual = ffd.deform(points, moved)
    assert actual.tobytes() == expected.tobytes()
    # The independent reference agrees with velk's arithmetic to rounding.
    np.testing.assert_allclose(actual, ref.deform(points, moved), atol=1e-12)


def test_products_and_jacobian_match_complex_step(case):
    ffd, ref, points, rng = case
    expected = complex_step_jacobian(ref, points)
    tangent = rng.normal(size=ref.nodes.shape)
    cotangent = rng.normal(size=points.shape)
    assert_close(ffd.jvp(points, tangent).ravel(), expected @ tangent.ravel())
    assert_close(ffd.vjp(points, cotangent).ravel(), expected.T @ cotangent.ravel())
    assert_close(ffd.jacobian(points).toarray(), expected)


def test_the_products_are_transposes_of_each_other(case):
    ffd, ref, points, rng = case
    tangent, cotangent = rng.normal(size=ref.nodes.shape), rng.normal(size=points.shape)
    forward = np.vdot(ffd.jvp(points, tangent), cotangent)
    reverse = np.vdot(tangent, ffd.vjp(points, cotangent))
    assert abs(forward - reverse) <= 1e-12 * abs(forward)


def test_derivatives_do_not_depend_on_where_the_lattice_moved(case):
    # The deformation is linear in the moved nodes: a finite step along a tangent moves the
    # points by exactly the forward product times the step, from any starting lattice.
    ffd, ref, points, rng = case
    start = ffd.nodes + rng.normal(scale=0.2, size=ffd.nodes.shape)
    tangent = rng.normal(size=start.shape)
    step = ffd.deform(points, start + 0.5 * tangent) - ffd.deform(points, start)
    np.testing.assert_allclose(step, 0.5 * ffd.jvp(points, tangent), atol=1e-12)


def test_jacobian_over_chosen_nodes_and_empty_rows_outside():
    ffd = velk_morph.Ffd(velk.DesignBlock(*BLOCKS["one-angle"]))
    rng = np.random.default_rng(5)
    points = np.vstack([ffd.nodes.mean(axis=0) + rng.normal(scale=0.2, size=(30, 3)),
                        [[50.0, 50.0, 50.0], [-40.0, 0.0, 0.0]]])
    full = ffd.jacobian(points).toarray()
    ids = [7, 3, 7, 40]
    chosen = ffd.jacobian(points, node_ids=np.array(ids, dtype=np.int32))
    assert chosen.shape == (3 * len(points), 3 * len(ids))
    columns = [3 * i + b for i in ids for b in range(3)]
    np.testing.assert_array_equal(chosen.toarray(), full[:, columns])
    assert np.all(np.diff(chosen.indptr)[-6:] == 0)
    assert ffd.jacobian(points, node_ids=[]).shape == (3 * len(points), 0)


def test_reverse_products_have_the_same_bits_at_any_thread_count(outputs_by_thread_count):
    code = """
import hashlib, numpy as np, velk, velk_morph
ffd = velk_morph.Ffd(velk.DesignBlock([2, 3, 1.5], [0.1, -0.2, 0.3], [0, 0, 25], [5, 4, 6]))
rng = np.random.default_rng(3)
points = rng.uniform(-1.6, 1.6, size=(150_000, 3))
digest = hashlib.sha256()
for out in (ffd.vjp(points, rng.normal(size=points.shape)),
            ffd.jvp(points, rng.normal(size=ffd.nodes.shape)),
            ffd.jacobian(points[:3000], node_ids=[0, 60, 119]).data):
    digest.update(out.tobytes())
print(digest.hexdigest())
"""
    assert len(outputs_by_thread_count(code)) == 1


@pytest.mark.parametrize("call,name", [
    (lambda f: f.deform(np.zeros((4, 2)), f.nodes), "points"),
    (lambda f: f.deform(np.zeros((4, 3)), f.nodes[:-1]), "deformed_design_nodes"),
    (lambda f: f.deform(np.zeros((4, 3)), np.full((27, 3), np.nan)), "deformed_design_nodes"),
    (lambda f: f.jvp(np.zeros((4, 3)), np.zeros((28, 3))), "tangent"),
    (lambda f: f.jvp([[0, 0, np.inf]], np.zeros((27, 3))), "points"),
    (lambda f: f.vjp(np.zeros((4, 3)), np.zeros((5, 3))), "cotangent"),
    (lambda f: f.vjp(np.zeros((4, 3)), "abc"), "cotangent"),
    (lambda f: f.jacobian(np.zeros((4, 3)), node_ids=[[0, 1]]), "node_ids"),
    (lambda f: f.jacobian(np.zeros((4, 3)), node_ids=[0.5]), "node_ids"),
    (lambda f: f.jacobian(np.zeros((4, 3)), node_ids=[0, 27]), "node_ids"),
    (lambda f: f.jacobian(np.zeros((4, 3)), node_ids=[-1]), "node_ids"),
])
def test_wrong_input_is_a_value_error_naming_the_argument(call, name):
    ffd = velk_morph.Ffd(velk.DesignBlock(*BLOCKS["aligned"]))
    with pytest.raises(ValueError, match=name):
        call(ffd)


def test_a_jacobian_too_large_is_refused_at_once_pointing_to_the_products():
    ffd = velk_morph.Ffd(velk.DesignBlock([2, 2, 2], [0, 0, 0], [10, 0, 0], [14, 14, 14]))
    points = np.random.default_rng(0).uniform(-0.5, 0.5, size=(2_000_000, 3))
    with pytest.raises(MemoryError, match=r"\(6000000, 10125\) Jacobian.*GB.*jvp"):
        ffd.jacobian(points)


def test_construction_takes_only_a_design_block_and_pickles():
    with pytest.raises(TypeError, match="velk.DesignBlock"):
        velk_morph.Ffd(velk.Mesh([[0, 0, 0]], []))
    ffd = velk_morph.Ffd(velk.DesignBlock(*BLOCKS["three-angles"]))
    again = pickle.loads(pickle.dumps(ffd))
    assert again.resolution == (4, 3, 5)
    points = np.random.default_rng(2).uniform(-1, 1, size=(50, 3))
    moved = ffd.nodes * 1.1
    assert again.deform(points, moved).tobytes() == ffd.deform(points, moved).tobytes()
    assert again.nodes.tobytes() == ffd.nodes.tobytes()
