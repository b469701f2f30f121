"""Slicing a mesh by a plane into segments and clipping it to one side of a plane."""
import random

import pytest

import velk
from helpers import panic_text

NONE_UNWRAP = "called `Option::unwrap()` on a `None` value"
TRIANGLE = [[0, 0, 0], [1, 0, 0], [0, 1, 0]]


def dot(v, n):
    return (v[0] * n[0] + v[1] * n[1]) + v[2] * n[2]


def ref_slice(nodes, cells, origin, normal):
    """The section, edge by edge, in the documented arithmetic order (None when absent)."""
    d = dot(origin, normal)
    out = []
    for cell in cells:
        corners = [nodes[i] for i in cell]
        points = []
        for s, e in ((corners[0], corners[1]), (corners[1], corners[2]), (corners[2], corners[0])):
            along = [e[i] - s[i] for i in range(3)]
            try:
                t = (d - dot(s, normal)) / dot(along, normal)
            except ZeroDivisionError:
                continue
            if 0 <= t <= 1:
                points.append([s[i] + along[i] * t for i in range(3)])
        if len(points) == 2:
            out += points
    return out or None


def random_mesh(seed, n_nodes=60, n_cells=120):
    rng = random.Random(seed)
    nodes = [[rng.uniform(-1, 1) for _ in range(3)] for _ in range(n_nodes)]
    cells = [rng.sample(range(n_nodes), 3) for _ in range(n_cells)]
    return nodes, cells


@pytest.mark.parametrize("nodes, origin, normal, expected", [
    (TRIANGLE, [0.5, 0, 0], [1, 0, 0], [[0.5, 0.0, 0.0], [0.5, 0.5, 0.0]]),
    # through A: A→B yields A (t = 0), B→C yields C (t = 1), C→A lies in the plane (0/0)
    (TRIANGLE, [0, 0, 0], [1, 0, 0], [[0.0, 0.0, 0.0], [0.0, 1.0, 0.0]]),
    # through B: A→B yields B (t = 1), B→C yields B (t = -0), C→A is parallel
    (TRIANGLE, [1, 0, 0], [1, 0, 0], [[1.0, 0.0, 0.0], [1.0, 0.0, 0.0]]),
    # a normal of any length gives the same section
    (TRIANGLE, [0.5, 0, 0], [-4, 0, 0], [[0.5, 0.0, 0.0], [0.5, 0.5, 0.0]]),
])
def test_slice_single_cell(nodes, origin, normal, expected):
    assert velk.Mesh(nodes, [[0, 1, 2]]).slice_from_plane(origin, normal) == expected


def test_slice_cell_yielding_three_points_contributes_nothing():
    nodes = [[-1, 0, 0], [0, 1, 0], [1, 0, 0], [5, 5, 5]]
    mesh = velk.Mesh(nodes, [[0, 1, 2], [0, 3, 2]])
    # Cell 0 yields B twice and the origin; cell 1 is cut by a clean segment.
    section = mesh.slice_from_plane([0, 0, 0], [1, 0, 0])
    assert section == ref_slice(nodes, [[0, 3, 2]], [0, 0, 0], [1, 0, 0])
    assert section == [[0.0, 5 * (1 / 6), 5 * (1 / 6)], [0.0, 0.0, 0.0]]


@pytest.mark.parametrize("origin, normal", [
    ([0, 0, 1], [0, 0, 1]),      # parallel to the cell, not through it
    ([9, 9, 9], [1, 1, 1]),      # far from every node
    ([0.2, 0.2, 0], [0, 0, 0]),  # zero normal: every quotient is 0/0
])
def test_slice_that_cuts_no_cell_is_absent(origin, normal):
    assert panic_text(lambda: velk.Mesh(TRIANGLE, [[0, 1, 2]]).slice_from_plane(origin, normal)) \
        == NONE_UNWRAP


def test_slice_of_mesh_without_cells_is_absent():
    assert panic_text(lambda: velk.Mesh(TRIANGLE, []).slice_from_plane([0, 0, 0], [1, 0, 0])) \
        == NONE_UNWRAP


def test_slice_checks_every_index_before_slicing():
    mesh = velk.Mesh(TRIANGLE, [[0, 1, 2], [0, 1, 5]])
    assert panic_text(lambda: mesh.slice_from_plane([0.5, 0, 0], [1, 0, 0])) == \
        "index out of bounds: the len is 3 but the index is 5"


@pytest.mark.parametrize("seed", range(4))
def test_slice_matches_edge_by_edge_computation(seed):
    nodes, cells = random_mesh(seed)
    origin, normal = [0.1, -0.2, 0.05], [0.3, 1.0, -0.6]
    expected = ref_slice(nodes, cells, origin, normal)
    assert expected and len(expected) % 2 == 0
    assert velk.Mesh(nodes, cells).slice_from_plane(origin, normal) == expected


def test_clip_keeps_nodes_in_order_and_renumbers_cells():
    nodes = [[0, 0, -1], [0, 0, 1], [1, 0, 1], [5, 5, 5], [0, 1, 1], [0, 0, 0]]
    cells = [[0, 1, 2], [1, 2, 4], [4, 5, 1], [0, 4, 5], [3, 3, 3]]
    clipped = velk.Mesh(nodes, cells).clip_from_plane([0, 0, 0], [0, 0, 1])
    assert clipped.nodes == [[0.0, 0.0, 1.0], [1.0, 0.0, 1.0], [5.0, 5.0, 5.0], [0.0, 1.0, 1.0],
                             [0.0, 0.0, 0.0]]
    assert clipped.cells == [[0, 1, 3], [3, 4, 0], [2, 2, 2]]


def test_clip_drops_cells_with_out_of_range_indices():
    nodes = [[float(i), 0.0, 0.0] for i in range(5)]
    clipped = velk.Mesh(nodes, [[0, 1, 9], [2, 3, 4], [2 ** 64 - 1, 0, 1]]).clip_from_plane(
        [0, 0, 0], [1, 0, 0])
    assert clipped.nodes == nodes
    assert clipped.cells == [[2, 3, 4]]


def test_clip_with_zero_normal_keeps_every_node():
    nodes, cells = random_mesh(3, 10, 5)
    clipped = velk.Mesh(nodes, cells + [[0, 1, 10]]).clip_from_plane([1, 2, 3], [0, 0, 0])
    assert clipped.nodes == nodes
    assert clipped.cells == cells


def test_clip_keeping_everything_is_a_new_equal_mesh():
    mesh = velk.Mesh(TRIANGLE, [[0, 1, 2], [2, 1, 0]])
    clipped = mesh.clip_from_plane([0, 0, -1], [0, 0, 1])
    assert clipped is not mesh and type(clipped) is velk.Mesh
    assert (clipped.nodes, clipped.cells) == (mesh.nodes, mesh.cells)
    clipped.nodes = []
    assert mesh.nodes == [[0.0, 0.0, 0.0], [1.0, 0.0, 0.0], [0.0, 1.0, 0.0]]


@pytest.mark.parametrize("seed", range(5))
def test_clip_agrees_with_plane_direction_selection(seed):
    nodes, cells = random_mesh(seed)
    # Put some nodes exactly on the plane z = 0.25.
    for p in nodes[::7]:
        p[2] = 0.25
    origin, normal = [0.0, 0.0, 0.25], [0.0, 0.0, 1.0]
    mesh = velk.Mesh(nodes, cells)
    for n in (normal, [-c for c in normal]):
        kept = velk.select_nodes_in_plane_direction(nodes, origin, n)
        clipped = mesh.clip_from_plane(origin, n)
        assert clipped.nodes == [nodes[i] for i in kept]
        position = {old: new for new, old in enumerate(kept)}
        assert clipped.cells == [[position[i] for i in c] for c in cells
                                 if all(i in position for i in c)]
    up = set(velk.select_nodes_in_plane_direction(nodes, origin, normal))
    down = set(velk.select_nodes_in_plane_direction(nodes, origin, [0, 0, -1]))
    on_plane = {i for i, p in enumerate(nodes) if p[2] == 0.25}
    assert up | down == set(range(len(nodes)))
    assert up & down == on_plane and on_plane


@pytest.mark.parametrize("method", ["slice_from_plane", "clip_from_plane"])
def test_method_arguments_and_documentation(method):
    mesh = velk.Mesh(TRIANGLE, [[0, 1, 2]])
    fn = getattr(mesh, method)
    assert getattr(velk.Mesh, method).__text_signature__ == "($self, origin, normal)"
    assert getattr(velk.Mesh, method).__doc__ is None
    with pytest.raises(TypeError) as info:
        fn([0, 0, 0], 5)
    assert str(info.value) == "argument 'normal': 'int' object cannot be converted to 'Sequence'"
    with pytest.raises(ValueError, match=r"^expected a sequence of length 3 \(got 2\)$"):
        fn([0, 0], [1, 0, 0])
    with pytest.raises(TypeError) as info:
        fn([0, 0, 0])
    assert str(info.value) == f"Mesh.{method}() missing 1 required positional argument: 'normal'"
    assert fn(normal=[1, 0, 0], origin=[0.5, 0, 0]) is not None


def test_plane_methods_hold_no_extra_references():
    import sys

    mesh = velk.Mesh(TRIANGLE, [[0, 1, 2]])
    origin, normal, far = [0.5, 0, 0], [1, 0, 0], [9, 9, 9]
    before = [sys.getrefcount(x) for x in (mesh, origin, normal, far)]
    for _ in range(100):
        mesh.slice_from_plane(origin, normal)
        mesh.clip_from_plane(origin, normal)
        try:
            mesh.slice_from_plane(far, normal)
        except BaseException:
            pass
    assert [sys.getrefcount(x) for x in (mesh, origin, normal, far)] == before
