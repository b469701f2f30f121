"""DesignBlock: lattice, read-only attributes, free design node selection, moved subsets."""

import random

import pytest

import velk
from reference import rotation_matrix
from helpers import panic


def closed_box(lo, hi):
    """A closed triangle box mesh spanning lo..hi, outward-facing cells."""
    (x0, y0, z0), (x1, y1, z1) = lo, hi
    nodes = [[x, y, z] for x in (x0, x1) for y in (y0, y1) for z in (z0, z1)]
    cells = [
        [0, 2, 3], [0, 3, 1], [4, 5, 7], [4, 7, 6],  # x faces
        [0, 1, 5], [0, 5, 4], [2, 6, 7], [2, 7, 3],  # y faces
        [0, 4, 6], [0, 6, 2], [1, 3, 7], [1, 7, 5],  # z faces
    ]
    return velk.Mesh(nodes, cells)


def lattice_index(i, j, k, n):
    return (i * (n[1] + 1) + j) * (n[2] + 1) + k


def block(resolution=(2, 2, 2), theta=(0, 0, 0), length=(2, 2, 2), centre=(0, 0, 0)):
    return velk.DesignBlock(list(length), list(centre), list(theta), list(resolution))


def test_lattice_and_attributes():
    b = block()
    nodes = b.nodes
    assert len(nodes) == 27
    assert nodes[0] == [-1, -1, -1] and nodes[1] == [-1, -1, 0] and nodes[3] == [-1, 0, -1]
    assert nodes[9] == [0, -1, -1] and nodes[26] == [1, 1, 1]
    assert b.resolution == [2, 2, 2] and all(type(v) is int for v in b.resolution)
    assert (b.length, b.centre, b.theta) == ([2, 2, 2], [0, 0, 0], [0, 0, 0])
    rotated = block((2, 3, 4), (10, 20, 30), (1, 2, 3), (0.5, 0, -1))
    assert rotated.nodes == velk.generate_block_cluster([1, 2, 3], [0.5, 0, -1], [10, 20, 30], [2, 3, 4])
    assert rotated.theta == [10, 20, 30] and rotated.resolution == [2, 3, 4]


def test_class_documentation():
    assert velk.DesignBlock.__text_signature__ == "(length, centre, theta, resolution)"
    assert velk.DesignBlock.__doc__ is None
    assert velk.DesignBlock.select_free_design_nodes.__text_signature__ == "($self, target_mesh, fixed_layers=None)"
    assert velk.DesignBlock.transform_subset.__text_signature__ == "($self, node_ids, transform_matrix, pivot)"
    assert velk.__all__[-3:] == ["RbfDeformer", "DesignBlock", "FreeFormDeformer"]


@pytest.mark.parametrize("name", ["nodes", "length", "centre", "theta", "resolution"])
def test_attributes_are_read_only(name):
    b = block()
    before = getattr(b, name)
    with pytest.raises(AttributeError):
        setattr(b, name, [1, 1, 1])
    assert getattr(b, name) == before


@pytest.mark.parametrize(
    "length, resolution, message",
    [
        ([2, 0, 2], [2, 2, 2], "Invalid length: dimensions must be positive."),
        ([2, 2, 2], [2, 0, 2], "Invalid resolution: dimensions must be non-zero."),
    ],
)
def test_lattice_errors_are_internal_failures(length, resolution, message):
    assert panic(lambda: velk.DesignBlock(length, [0, 0, 0], [0, 0, 0], resolution)).args == (
        'called `Result::unwrap()` on an `Err` value: MeshGeneration("' + message + '")',)


def test_constructor_conversions_in_order():
    with pytest.raises(TypeError, match=r"^argument 'theta': "):
        velk.DesignBlock([1, 1, 1], [0, 0, 0], "abc", [1, 1.5, 1])
    with pytest.raises(TypeError, match=r"^argument 'resolution': "):
        velk.DesignBlock([1, 1, 1], [0, 0, 0], [0, 0, 0], [1, 1.5, 1])
    with pytest.raises(TypeError, match=r"^DesignBlock.__new__\(\) missing 1 required positional argument: 'resolution'$"):
        velk.DesignBlock([1, 1, 1], [0, 0, 0], [0, 0, 0])


def test_selection_resolution_rule():
    mesh = closed_box((-0.1, -0.1, -0.1), (0.1, 0.1, 0.1))
    b = block((1, 3, 3))
    with pytest.raises(ValueError) as info:
        b.select_free_design_nodes(mesh)
    assert info.value.args == (
        "🔴 Deformation error: Block resultion must be at least the size of the fixed layers!",)
    assert len(b.select_free_design_nodes(mesh, fixed_layers=1)) == 32
    with pytest.raises(ValueError, match="fixed layers"):
        block().select_free_design_nodes(mesh, 3)


def test_selection_argument_errors():
    b = block()
    with pytest.raises(TypeError, match=r"^argument 'fixed_layers': "):
        b.select_free_design_nodes(velk.Mesh([], []), "2")
    # fixed_layers is converted before the mesh.
    with pytest.raises(TypeError, match=r"^argument 'fixed_layers': "):
        b.select_free_design_nodes(5, "2")
    with pytest.raises(TypeError) as info:
        b.select_free_design_nodes(5)
    assert str(info.value) == "'int' object cannot be converted to 'Mesh'"
    assert info.value.__cause__ is None


def test_mesh_inside_the_block_touches_no_face():
    b = block((4, 4, 4))
    assert b.select_free_design_nodes(closed_box((-0.5,) * 3, (0.5,) * 3)) == list(range(125))


def test_mesh_crossing_the_lower_z_face_holds_two_layers():
    b = block((4, 4, 4))
    free = b.select_free_design_nodes(closed_box((-0.5, -0.5, -1.5), (0.5, 0.5, 0.0)))
    n = (4, 4, 4)
    assert free == sorted(lattice_index(i, j, k, n) for i in range(5) for j in range(5) for k in range(2, 5))
    held_one = b.select_free_design_nodes(closed_box((-0.5, -0.5, -1.5), (0.5, 0.5, 0.0)), 1)
    assert held_one == sorted(lattice_index(i, j, k, n) for i in range(5) for j in range(5) for k in range(1, 5))


def test_face_planes_are_unbounded_and_in_plane_meshes_do_not_touch():
    b = block((4, 4, 4))
    # Far outside the face itself, but crossing the plane x = 1.
    free = b.select_free_design_nodes(closed_box((0.5, 10, 10), (1.5, 11, 11)))
    n = (4, 4, 4)
    assert free == sorted(lattice_index(i, j, k, n) for i in range(3) for j in range(5) for k in range(5))
    # A flat mesh lying in the plane z = 1 yields no segment there.
    flat = velk.Mesh([[-0.5, -0.5, 1], [0.5, -0.5, 1], [0, 0.5, 1]], [[0, 1, 2]])
    assert b.select_free_design_nodes(flat) == list(range(125))


def test_fixed_layers_zero_holds_no_layer():
    b = block((4, 4, 4))
    crossing = closed_box((-0.5, -0.5, -1.5), (0.5, 0.5, 1.5))
    assert len(b.select_free_design_nodes(crossing, 1)) < 125
    assert b.select_free_design_nodes(crossing, 0) == list(range(125))


def test_touching_every_face_leaves_only_the_core():
    b = block((4, 4, 4))
    # A mesh crossing all six planes: a tilted triangle fan through the whole block.
    mesh = velk.Mesh(
        [[-2, 0, 0], [2, 0, 0], [0, -2, 0.1], [0, 2, 0.1], [0.1, 0, -2], [0.1, 0, 2]],
        [[0, 1, 2], [2, 3, 4], [4, 5, 0]],
    )
    n = (4, 4, 4)
    assert b.select_free_design_nodes(mesh) == [lattice_index(2, 2, 2, n)]


@pytest.mark.parametrize("theta", [(0, 0, 30), (25, 40, 0), (10, -20, 35)])
def test_rotated_selection_matches_the_unrotated_one(theta):
    # Rotating the block and the mesh together must select the same lattice nodes; with two or
    # more angles this needs the exact inverse rotation back into the block's axes.
    centre = [0.3, -0.2, 0.5]
    mesh = closed_box((-0.4, -0.3, -1.4), (0.4, 0.5, 0.0))
    mesh = velk.Mesh(velk.translate_nodes(mesh.nodes, centre), mesh.cells)
    flat = block((4, 4, 4), (0, 0, 0), centre=centre).select_free_design_nodes(mesh)
    turned_mesh = velk.Mesh(velk.rotate_nodes(mesh.nodes, list(theta), centre), mesh.cells)
    turned = block((4, 4, 4), theta, centre=centre).select_free_design_nodes(turned_mesh)
    assert flat == turned and len(flat) == 75


def test_transform_subset_moves_a_copy():
    b = block()
    before = b.nodes
    up = [[1, 0, 0, 0], [0, 1, 0, 0], [0, 0, 1, 1], [0, 0, 0, 1]]
    moved = b.transform_subset([0, 99], up, (0, 0, 0))
    assert moved[0] == [-1, -1, 0] and moved[1:] == before[1:]
    assert b.nodes == before
    twice = b.transform_subset(node_ids=[0, 0], transform_matrix=up, pivot=[0, 0, 0])
    assert twice[0] == [-1, -1, 1]


@pytest.mark.parametrize(
    "args, exc, text",
    [
        (("abc", [[0] * 4] * 4, [0, 0, 0]), TypeError, "argument 'node_ids': Can't extract `str` to `Vec`"),
        (([0], [[0] * 4] * 3, [0, 0, 0]), ValueError, "expected a sequence of length 4 (got 3)"),
        (([0], [[0] * 4] * 4, [0, 0]), ValueError, "expected a sequence of length 3 (got 2)"),
        (([0], 7, 7), TypeError, "argument 'transform_matrix': 'int' object cannot be converted to 'Sequence'"),
    ],
)
def test_transform_subset_argument_errors(args, exc, text):
    with pytest.raises(exc) as info:
        block().transform_subset(*args)
    assert type(info.value) is exc and str(info.value) == text




def _apply(r, v, c):
    return [((r[i][0] * v[0] + r[i][1] * v[1]) + r[i][2] * v[2]) + c[i] for i in range(3)]


def _dot(a, b):
    return (a[0] * b[0] + a[1] * b[1]) + a[2] * b[2]


def _cuts(nodes, cells, origin, normal):
    """Whether any cell yields exactly two edge points with 0 ≤ t ≤ 1."""
    d = _dot(origin, normal)
    for cell in cells:
        abc = [nodes[i] for i in cell]
        hits = 0
        for e in range(3):
            s, end = abc[e], abc[(e + 1) % 3]
            num = d - _dot(s, normal)
            den = _dot([end[i] - s[i] for i in range(3)], normal)
            hits += den != 0 and 0 <= num / den <= 1
        if hits == 2:
            return True
    return False


FACES = [(0, 1, 3, 2), (4, 5, 7, 6), (0, 1, 5, 4), (2, 3, 7, 6), (0, 2, 6, 4), (1, 3, 7, 5)]
SHRINK = [(4, 0, 0.5), (5, 0, -0.5), (2, 1, 0.5), (3, 1, -0.5), (0, 2, 0.5), (1, 2, -0.5)]


def _free_nodes(length, centre, theta, res, lattice, mesh, f):
    r = rotation_matrix(theta)
    low = [(centre[i] - length[i] * 0.5) - centre[i] for i in range(3)]
    high = [(length[i] * 0.5 + centre[i]) - centre[i] for i in range(3)]
    corners = [_apply(r, [high[a] if q >> a & 1 else low[a] for a in range(3)], centre)
               for q in range(8)]
    touched = []
    for face in FACES:
        a, b, c, d = (corners[q] for q in face)
        origin = [((((0.0 + a[i]) + b[i]) + c[i]) + d[i]) * 0.25 for i in range(3)]
        e1 = [b[i] - a[i] for i in range(3)]
        e2 = [c[i] - a[i] for i in range(3)]
        normal = [e1[1] * e2[2] - e1[2] * e2[1], e1[2] * e2[0] - e1[0] * e2[2],
                  e1[0] * e2[1] - e1[1] * e2[0]]
        touched.append(_cuts(mesh.nodes, mesh.cells, origin, normal))
    free_l, free_c = list(length), list(centre)
    spacing = [length[i] / res[i] for i in range(3)]
    thick = [spacing[i] * 0.01 + spacing[i] * float(f - 1) for i in range(3)]
    for face, axis, sign in SHRINK:
        if touched[face]:
            free_l[axis] -= thick[axis]
            free_c[axis] += thick[axis] * sign
    box_l = [free_l[i] + 0.001 * spacing[i] for i in range(3)]
    box_c = _apply(r, [free_c[i] - centre[i] for i in range(3)], centre)
    back = rotation_matrix([-t for t in theta])  # one angle: the same bits as the transpose
    out = []
    for n, p in enumerate(lattice):
        q = _apply(back, [p[i] - box_c[i] for i in range(3)], box_c)
        if all(box_c[a] - box_l[a] * 0.5 <= q[a] <= box_c[a] + box_l[a] * 0.5 for a in range(3)):
            out.append(n)
    return out


def test_selection_matches_a_plain_reference_on_random_meshes():
    rng = random.Random(4)
    for _ in range(60):
        length = [rng.uniform(0.5, 3) for _ in range(3)]
        centre = [rng.uniform(-1, 1) for _ in range(3)]
        theta = [0.0, 0.0, 0.0]
        theta[rng.randrange(3)] = rng.choice([0.0, rng.uniform(-90, 90)])
        res = [rng.randint(2, 6) for _ in range(3)]
        b = velk.DesignBlock(length, centre, theta, res)
        mesh = velk.generate_box([rng.uniform(0.2, 3) for _ in range(3)],
                                 [rng.uniform(-1.5, 1.5) for _ in range(3)],
                                 [rng.uniform(-30, 30) for _ in range(3)], [2, 2, 2])
        f = rng.randint(1, 2)
        want = _free_nodes(length, centre, theta, res, b.nodes, mesh, f)
        assert b.select_free_design_nodes(mesh, f) == want


@pytest.mark.parametrize("cells_before", [0, 40_000], ids=["small mesh", "many blocks of cells"])
def test_a_cell_naming_a_missing_node_fails_the_selection_even_after_a_cut(cells_before):
    # The first cell crosses the lower z face; a later cell names node 99 of 3. The face test
    # still checks every cell, as a slice of the mesh does, and fails on the first bad one.
    crossing = [[-0.2, -0.2, -1.5], [0.3, -0.2, -0.5], [0.0, 0.3, -0.2]]
    cells = [[0, 1, 2]] * (cells_before + 1) + [[0, 1, 99], [0, 1, 77]]
    mesh = velk.Mesh(crossing, cells)
    with pytest.raises(BaseException) as info:
        block((4, 4, 4)).select_free_design_nodes(mesh)
    assert type(info.value).__name__ == "PanicException"
    assert str(info.value) == "index out of bounds: the len is 3 but the index is 99"
    with pytest.raises(BaseException) as sliced:
        mesh.slice_from_plane([0, 0, -1], [0, 0, 1])
    assert str(sliced.value) == str(info.value)


def test_the_target_mesh_is_read_in_place_and_left_unchanged():
    mesh = closed_box((-0.5, -0.5, -1.5), (0.5, 0.5, 0.0))
    nodes, cells = mesh.nodes, mesh.cells
    b = block((4, 4, 4))
    assert b.select_free_design_nodes(mesh) == b.select_free_design_nodes(velk.Mesh(nodes, cells))
    assert (mesh.nodes, mesh.cells) == (nodes, cells)
    with pytest.raises(TypeError, match="'list' object cannot be converted to 'Mesh'"):
        b.select_free_design_nodes([nodes, cells])
