"""The Mesh class: construction, properties, corner triples, cell normals and its summary box."""

import math

import pytest

import velk
from helpers import panic_type

TRIANGLE = [[0, 0, 0], [1, 0, 0], [0, 1, 0]]


def test_cell_normals_follow_the_right_hand_rule_and_are_unit():
    mesh = velk.Mesh(TRIANGLE, [[0, 1, 2], [0, 2, 1]])
    assert mesh.cell_normals() == [[0.0, 0.0, 1.0], [0.0, 0.0, -1.0]]
    stretched = velk.Mesh([[0, 0, 0], [2, 0, 0], [0, 3, 0]], [[0, 1, 2]])
    assert stretched.cell_normals() == [[0.0, 0.0, 1.0]]


def test_cell_normal_arithmetic_order_is_fixed():
    nodes = [[0.1, 0.7, 0.3], [1.3, 0.2, 0.9], [0.4, 1.9, 0.05]]
    (a, b, c) = nodes
    u = [b[i] - a[i] for i in range(3)]
    v = [c[i] - a[i] for i in range(3)]
    nx = u[1] * v[2] - u[2] * v[1]
    ny = u[2] * v[0] - u[0] * v[2]
    nz = u[0] * v[1] - v[0] * u[1]
    length = math.sqrt(nz * nz + (nx * nx + ny * ny))
    assert velk.Mesh(nodes, [[0, 1, 2]]).cell_normals() == [[nx / length, ny / length, nz / length]]


def test_degenerate_cell_gives_nan_normal_without_failing():
    normal = velk.Mesh(TRIANGLE, [[0, 0, 0]]).cell_normals()[0]
    assert all(math.isnan(c) for c in normal)


def test_triangles_lists_corner_points_in_cell_order():
    mesh = velk.Mesh(TRIANGLE, [[2, 1, 0]])
    assert mesh.triangles() == [[[0.0, 1.0, 0.0], [1.0, 0.0, 0.0], [0.0, 0.0, 0.0]]]


def test_mesh_without_cells_has_empty_derived_lists():
    mesh = velk.Mesh(TRIANGLE, [])
    assert mesh.triangles() == [] and mesh.cell_normals() == []


@pytest.mark.parametrize("method", ["triangles", "cell_normals"])
def test_out_of_range_cell_is_an_internal_failure_not_an_exception(method):
    mesh = velk.Mesh(TRIANGLE, [[0, 1, 2], [0, 1, 5]])
    caught_by_exception = False
    with pytest.raises(BaseException) as info:
        try:
            getattr(mesh, method)()
        except Exception:
            caught_by_exception = True
    assert not caught_by_exception
    assert type(info.value).__name__ == "PanicException"
    assert type(info.value).__bases__ == (BaseException,)
    assert info.value.args == ("index out of bounds: the len is 3 but the index is 5",)


def test_panic_exception_type_is_created_once_and_not_exported():
    assert panic_type() is panic_type()
    assert not hasattr(velk, "PanicException")


def test_construction_does_not_validate_indices():
    mesh = velk.Mesh(TRIANGLE, [[7, 8, 9]])
    assert mesh.cells == [[7, 8, 9]]


def box_lines(text):
    lines = text.split("\n")
    assert len(lines) == 6 and all(len(line) == 50 for line in lines)
    return lines


@pytest.mark.parametrize("n_nodes, n_cells", [(0, 0), (8, 12), (123456, 7)])
def test_repr_is_a_fifty_column_box(n_nodes, n_cells):
    mesh = velk.Mesh([[0, 0, 0]] * n_nodes, [[0, 0, 0]] * n_cells)
    lines = box_lines(repr(mesh))
    assert lines[0] == "┌" + "─" * 48 + "┐"
    assert lines[1] == "│" + "Mesh".ljust(48) + "│"
    assert lines[2] == "╞" + "═" * 48 + "╡"
    assert lines[3] == "│" + ("Nodes: " + str(n_nodes)).ljust(48) + "│"
    assert lines[4] == "│" + ("Faces: " + str(n_cells)).ljust(48) + "│"
    assert lines[5] == "└" + "─" * 48 + "┘"
    assert str(mesh) == repr(mesh)
    assert not repr(mesh).endswith("\n")


def test_properties_return_fresh_copies():
    mesh = velk.Mesh(TRIANGLE, [[0, 1, 2]])
    first, second = mesh.nodes, mesh.nodes
    assert first == second and first is not second
    first.append([9, 9, 9])
    first[0][0] = 42.0
    assert mesh.nodes == [[0.0, 0.0, 0.0], [1.0, 0.0, 0.0], [0.0, 1.0, 0.0]]
    cells = mesh.cells
    cells[0][0] = 5
    assert mesh.cells == [[0, 1, 2]]


def test_assignment_replaces_one_field_only():
    mesh = velk.Mesh(TRIANGLE, [[0, 1, 2]])
    mesh.nodes = [[5, 5, 5]]
    assert mesh.nodes == [[5.0, 5.0, 5.0]] and mesh.cells == [[0, 1, 2]]
    mesh.cells = [(0, 0, 0), (0, 0, 0)]
    assert mesh.cells == [[0, 0, 0], [0, 0, 0]] and mesh.nodes == [[5.0, 5.0, 5.0]]


@pytest.mark.parametrize(
    "field, value, error, text",
    [
        ("nodes", "abc", TypeError, "Can't extract `str` to `Vec`"),
        ("nodes", [[0, 0]], ValueError, "expected a sequence of length 3 (got 2)"),
        ("cells", [[0, 1, -1]], OverflowError, "can't convert negative int to unsigned"),
        ("cells", 3, TypeError, "'int' object cannot be converted to 'Sequence'"),
    ],
)
def test_failed_assignment_raises_unprefixed_and_keeps_the_field(field, value, error, text):
    mesh = velk.Mesh(TRIANGLE, [[0, 1, 2]])
    before = getattr(mesh, field)
    with pytest.raises(error) as info:
        setattr(mesh, field, value)
    assert str(info.value) == text
    assert getattr(mesh, field) == before


@pytest.mark.parametrize("field", ["nodes", "cells"])
def test_properties_cannot_be_deleted(field):
    mesh = velk.Mesh(TRIANGLE, [[0, 1, 2]])
    with pytest.raises(AttributeError, match="^can't delete attribute$"):
        delattr(mesh, field)


def test_class_documentation():
    assert velk.Mesh.__doc__ == "Mesh"
    assert velk.Mesh.__text_signature__ == "(nodes, cells)"
    assert velk.Mesh.__name__ == velk.Mesh.__qualname__ == "Mesh"
    assert velk.Mesh.triangles.__text_signature__ == "($self)"
    assert velk.Mesh.cell_normals.__text_signature__ == "($self)"
    assert velk.Mesh.triangles.__doc__ is None


def test_subclass_instances_are_meshes():
    class Tagged(velk.Mesh):
        pass

    mesh = Tagged(TRIANGLE, [[0, 1, 2]])
    assert isinstance(mesh, velk.Mesh) and mesh.cell_normals() == [[0.0, 0.0, 1.0]]


def test_reentrant_assignment_during_a_method_is_refused():
    mesh = velk.Mesh(TRIANGLE, [[0, 1, 2]])

    class Sneaky:
        def __float__(self):
            mesh.nodes = [[5, 5, 5]]
            return 0.5

    with pytest.raises(RuntimeError, match="^Already borrowed$"):
        mesh.slice_from_plane([Sneaky(), 0, 0], [1, 0, 0])
    assert mesh.nodes == [[0.0, 0.0, 0.0], [1.0, 0.0, 0.0], [0.0, 1.0, 0.0]]
    # The access is released afterwards: the same assignment now succeeds.
    mesh.nodes = [[5, 5, 5]]
    assert mesh.nodes == [[5.0, 5.0, 5.0]]


def test_binding_texts_for_functions_with_all_required_parameters():
    with pytest.raises(TypeError) as info:
        velk.select_nodes_on_line([])
    assert str(info.value) == (
        "select_nodes_on_line() missing 2 required positional arguments: 'point_a' and 'point_b'"
    )
    with pytest.raises(TypeError) as info:
        velk.transform_selected_nodes()
    assert str(info.value) == (
        "transform_selected_nodes() missing 4 required positional arguments: "
        "'nodes', 'selected_ids', 'transformation_matrix', and 'origin'"
    )
    with pytest.raises(TypeError) as info:
        velk.translate_nodes([], [0, 0, 0], 1)
    assert str(info.value) == "translate_nodes() takes 2 positional arguments but 3 were given"
    with pytest.raises(TypeError) as info:
        velk.Mesh([], []).slice_from_plane([0, 0, 0])
    assert str(info.value) == (
        "Mesh.slice_from_plane() missing 1 required positional argument: 'normal'"
    )
