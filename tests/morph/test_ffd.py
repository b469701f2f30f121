"""FreeFormDeformer: edge cases, an independent numpy cross-check, and thread determinism."""

import math
import sys

import pytest

import velk
from helpers import run_python

COUNT_TEXT = "🔴 Deformation error: The number of original and deformed design points must match!"


def cube_block(theta=(0, 0, 0)):
    return velk.DesignBlock([2, 2, 2], [0, 0, 0], list(theta), [2, 2, 2])


def test_unmoved_lattice_returns_the_points():
    b = cube_block()
    f = velk.FreeFormDeformer(b)
    points = [[0.1, -0.7, 0.9], [1, 1, 1], [-1, -1, -1], [0, 0, 0]]
    out = f.deform(points, b.nodes)
    for p, q in zip(points, out):
        assert q == pytest.approx(p, abs=1e-15)


def test_outside_points_come_back_bit_for_bit():
    b = cube_block((0, 0, 20))
    f = velk.FreeFormDeformer(b)
    moved = [[x + 0.3, y - 0.2, z + 0.1] for x, y, z in b.nodes]
    nan = float("nan")
    points = [[5, 5, 5], [3, 0, 0], [-0.0, 1e300, -0.0], [nan, 0, 0], [0.1 + 1e-9, 2.5, 0]]
    out = f.deform(points, moved)
    assert out[:3] == points[:3]
    assert math.copysign(1, out[2][0]) == -1.0
    assert math.isnan(out[3][0]) and out[3][1:] == [0, 0]
    assert out[4] == points[4]
    assert f.deform([], moved) == []


def test_moving_every_node_moves_inside_points_only():
    b = cube_block()
    f = velk.FreeFormDeformer(b)
    moved = [[x + 0.1, y, z] for x, y, z in b.nodes]
    inside, outside = f.deform([[0.5, 0.5, 0.5], [3, 0, 0]], moved)
    assert inside == pytest.approx([0.6, 0.5, 0.5], abs=1e-15)
    assert outside == [3, 0, 0]


def test_centre_node_moved_up():
    b = cube_block()
    moved = b.nodes
    moved[13] = [0, 0, 1]
    out = velk.FreeFormDeformer(b).deform([[0, 0, 0], [5, 5, 5]], moved)
    assert out[0] == pytest.approx([0, 0, 0.125], abs=1e-15)
    assert out[1] == [5, 5, 5]


def test_bounds_are_inclusive():
    b = cube_block()
    moved = b.nodes
    moved[0] = [-2, -1, -1]  # the corner node moves by -1 along x
    out = velk.FreeFormDeformer(b).deform([[-1, -1, -1], [1, 1, 1]], moved)
    assert out[0] == pytest.approx([-2, -1, -1], abs=1e-15)
    assert out[1] == pytest.approx([1, 1, 1], abs=1e-15)


@pytest.mark.parametrize("count", [0, 26, 28])
def test_count_mismatch(count):
    b = cube_block()
    f = velk.FreeFormDeformer(b)
    with pytest.raises(ValueError) as info:
        f.deform([[0, 0, 0]], ([[0, 0, 0]] * 28)[:count])
    assert info.value.args == (COUNT_TEXT,)


@pytest.mark.parametrize(
    "args, exc, text",
    [
        (("abc", []), TypeError, "argument 'points': Can't extract `str` to `Vec`"),
        (([], 3), TypeError, "argument 'deformed_design_nodes': 'int' object cannot be converted to 'Sequence'"),
        (([[0, 0]], []), ValueError, "expected a sequence of length 3 (got 2)"),
    ],
)
def test_deform_argument_errors(args, exc, text):
    f = velk.FreeFormDeformer(cube_block())
    with pytest.raises(exc) as info:
        f.deform(*args)
    assert type(info.value) is exc and str(info.value) == text


@pytest.mark.parametrize("arg", [velk.Mesh([], []), 5, None])
def test_deformer_needs_a_design_block(arg):
    with pytest.raises(BaseException) as info:
        velk.FreeFormDeformer(arg)
    assert type(info.value).__name__ == "PanicException"
    text = info.value.args[0]
    assert text.startswith("called `Result::unwrap()` on an `Err` value: ")
    assert "TypeError" in text and "DesignBlock" in text


def test_deformer_bindings():
    assert velk.FreeFormDeformer.__text_signature__ == "(original_design_block)"
    assert velk.FreeFormDeformer.__doc__ is None
    assert velk.FreeFormDeformer.deform.__text_signature__ == "($self, points, deformed_design_nodes)"
    b = cube_block()
    f = velk.FreeFormDeformer(original_design_block=b)
    assert f.deform(deformed_design_nodes=b.nodes, points=[[5, 5, 5]]) == [[5, 5, 5]]


# ---- independent numpy trivariate Bernstein FFD ----


def numpy_rotation(np, theta):
    ax, ay, az = (math.radians(a) for a in theta)
    rx = np.array([[1, 0, 0], [0, math.cos(ax), -math.sin(ax)], [0, math.sin(ax), math.cos(ax)]])
    ry = np.array([[math.cos(ay), 0, math.sin(ay)], [0, 1, 0], [-math.sin(ay), 0, math.cos(ay)]])
    rz = np.array([[math.cos(az), -math.sin(az), 0], [math.sin(az), math.cos(az), 0], [0, 0, 1]])
    return rx @ ry @ rz


def numpy_ffd(np, points, nodes, moved, length, centre, theta, res):
    r = numpy_rotation(np, theta)
    length, centre = np.asarray(length, float), np.asarray(centre, float)
    local = ((points - centre) @ r) / length + 0.5  # rows times R = R^T applied to each point
    d = ((moved - nodes) @ r) / length
    inside = np.all((local >= 0) & (local <= 1), axis=1)
    s = local[inside]

    def basis(v, n):
        k = np.arange(n + 1)
        comb = np.array([math.comb(n, i) for i in k], float)
        return comb * v[:, None] ** k * (1 - v[:, None]) ** (n - k)

    bx, by, bz = basis(s[:, 0], res[0]), basis(s[:, 1], res[1]), basis(s[:, 2], res[2])
    grid = d.reshape(res[0] + 1, res[1] + 1, res[2] + 1, 3)
    delta = np.einsum("pi,pj,pk,ijkc->pc", bx, by, bz, grid)
    out = points.copy()
    out[inside] = centre + ((s + delta - 0.5) * length) @ r.T
    return out


@pytest.mark.parametrize(
    "length, centre, theta, res",
    [
        ([2, 3, 1.5], [0.2, -0.4, 1.0], [0, 0, 0], [4, 3, 5]),
        ([1, 2, 3], [0.0, 0.0, 0.0], [0, 0, 35], [3, 3, 3]),
        ([1.5, 1, 2], [1.0, 2.0, -1.0], [0, -50, 0], [2, 5, 4]),
        ([2, 2, 1], [-1.0, 0.5, 0.0], [20, 0, 0], [6, 2, 3]),
    ],
)
def test_matches_numpy_bernstein_ffd(length, centre, theta, res):
    np = pytest.importorskip("numpy")
    rng = np.random.default_rng(12345)
    b = velk.DesignBlock(length, centre, theta, res)
    nodes = np.array(b.nodes)
    moved = nodes + rng.normal(scale=0.2, size=nodes.shape)
    # Points spread over a box a little larger than the block, so some fall outside.
    r = numpy_rotation(np, theta)
    local = rng.uniform(-0.15, 1.15, size=(3000, 3))
    points = np.asarray(centre) + ((local - 0.5) * np.asarray(length)) @ r.T
    expected = numpy_ffd(np, points, nodes, moved, length, centre, theta, res)
    got = np.array(velk.FreeFormDeformer(b).deform(points.tolist(), moved.tolist()))
    assert np.max(np.abs(got - expected)) <= 1e-12
    moved_count = np.sum(np.any(got != points, axis=1))
    assert 1000 < moved_count < 3000


@pytest.mark.parametrize("theta", [(30, 40, 0), (10, -25, 60), (0, 15, 70)])
def test_uniform_translation_moves_inside_points_with_several_angles(theta):
    # Rotating back into the block's axes must be the exact inverse of the block's rotation;
    # the negated-angle form breaks this as soon as two angles are non-zero.
    b = velk.DesignBlock([2, 1, 3], [0.5, 0, 0], list(theta), [3, 4, 2])
    shift = [0.3, -0.2, 0.25]
    moved = velk.translate_nodes(b.nodes, shift)
    points = velk.rotate_nodes([[0.6, 0.1, 0.3], [0.2, -0.3, -1.0], [1.2, 0.4, 1.1]], list(theta), [0.5, 0, 0])
    out = velk.FreeFormDeformer(b).deform(points, moved)
    for p, q in zip(points, out):
        assert q == pytest.approx([p[0] + shift[0], p[1] + shift[1], p[2] + shift[2]], abs=1e-13)


THREAD_SCRIPT = """
import random, velk
b = velk.DesignBlock([2, 3, 1.5], [0.1, 0.2, 0.3], [10, 20, 30], [4, 5, 3])
rng = random.Random(7)
moved = [[x + rng.uniform(-0.2, 0.2), y + rng.uniform(-0.2, 0.2), z + rng.uniform(-0.2, 0.2)] for x, y, z in b.nodes]
points = [[rng.uniform(-1.5, 1.5), rng.uniform(-1.8, 1.8), rng.uniform(-1, 1)] for _ in range(20000)]
out = velk.FreeFormDeformer(b).deform(points, moved)
print(sum(p != q for p, q in zip(points, out)))
print(",".join(c.hex() for p in out for c in p))
"""


def test_parallel_result_is_identical_to_one_thread():
    runs = []
    for threads in ("1", "2", "3"):
        runs.append(run_python(THREAD_SCRIPT, RAYON_NUM_THREADS=threads).stdout)
    assert runs[0] == runs[1] == runs[2]
    assert int(runs[0].split("\n")[0]) > 1000


def test_no_references_are_kept_or_leaked():
    b = cube_block()
    mesh = velk.Mesh([[0, 0, 0], [1, 0, 0], [0, 1, 0]], [[0, 1, 2]])
    points = [[0.1, 0.2, 0.3]]
    before = [sys.getrefcount(o) for o in (b, mesh, points)]
    f = velk.FreeFormDeformer(b)
    for _ in range(100):
        f.deform(points, b.nodes)
        b.select_free_design_nodes(mesh)
        for bad in (lambda: f.deform(points, []), lambda: b.select_free_design_nodes(mesh, 9)):
            try:
                bad()
            except ValueError:
                pass
    assert [sys.getrefcount(o) for o in (b, mesh, points)] == before
