"""cell_quality and inverted_cells: the measures against independent numpy formulas and VTK's
mesh-quality filter, the inversion rules per cell kind, and every refused input."""

import numpy as np
import pytest

import velk_morph

CUBE = np.array([[0, 0, 0], [1, 0, 0], [1, 1, 0], [0, 1, 0],
                 [0, 0, 1], [1, 0, 1], [1, 1, 1], [0, 1, 1]], dtype=float)
TET = np.array([[0, 0, 0], [1, 0, 0], [0, 1, 0], [0, 0, 1]], dtype=float)


def random_tets(rng, count, points=50):
    cells = np.array([rng.choice(points, 4, replace=False) for _ in range(count)])
    return rng.normal(size=(points, 3)), cells


def test_triangle_area_and_tetrahedron_volume_match_numpy():
    rng = np.random.default_rng(1)
    pts, tets = random_tets(rng, 500)
    a, b, c, d = (pts[tets[:, i]] for i in range(4))
    volume = np.einsum("ij,ij->i", b - a, np.cross(c - a, d - a)) / 6
    np.testing.assert_allclose(velk_morph.cell_quality(pts, tets), volume, rtol=1e-12, atol=1e-15)
    area = np.linalg.norm(np.cross(b - a, c - a), axis=1) / 2
    np.testing.assert_allclose(velk_morph.cell_quality(pts, tets[:, :3]), area, rtol=1e-12)


def test_hexahedron_scaled_jacobian():
    assert velk_morph.cell_quality(CUBE * [2, 3, 0.5], [range(8)])[0] == pytest.approx(1.0)
    # Pulling one corner through the opposite face inverts the cell.
    bent = CUBE.copy()
    bent[6] = [-0.5, -0.5, -0.5]
    assert velk_morph.cell_quality(bent, [range(8)])[0] < 0
    # A corner on top of its neighbour: an edge without length.
    collapsed = CUBE.copy()
    collapsed[1] = collapsed[0]
    assert velk_morph.cell_quality(collapsed, [range(8)])[0] == 1e30


def test_hexahedron_measure_agrees_with_vtk():
    vtk = pytest.importorskip("vtk")
    from vtk.util.numpy_support import numpy_to_vtk, vtk_to_numpy

    rng = np.random.default_rng(7)
    hexes = CUBE[None] + rng.uniform(-0.3, 0.3, size=(40, 8, 3))
    points = hexes.reshape(-1, 3)
    cells = np.arange(len(points)).reshape(-1, 8)
    grid = vtk.vtkUnstructuredGrid()
    vpoints = vtk.vtkPoints()
    vpoints.SetData(numpy_to_vtk(points, deep=True))
    grid.SetPoints(vpoints)
    for cell in cells:
        grid.InsertNextCell(vtk.VTK_HEXAHEDRON, 8, [int(i) for i in cell])
    quality = vtk.vtkMeshQuality()
    quality.SetInputData(grid)
    quality.SetHexQualityMeasureToScaledJacobian()
    quality.Update()
    expected = vtk_to_numpy(quality.GetOutput().GetCellData().GetArray("Quality"))
    np.testing.assert_allclose(velk_morph.cell_quality(points, cells), expected, rtol=1e-12)


def test_inverted_cells_by_kind():
    rng = np.random.default_rng(3)
    pts, tets = random_tets(rng, 2000)
    moved = pts + rng.normal(scale=0.3, size=pts.shape)
    a, b, c, d = (pts[tets[:, i]] for i in range(4))
    a2, b2, c2, d2 = (moved[tets[:, i]] for i in range(4))
    v0 = np.einsum("ij,ij->i", b - a, np.cross(c - a, d - a))
    v1 = np.einsum("ij,ij->i", b2 - a2, np.cross(c2 - a2, d2 - a2))
    found = velk_morph.inverted_cells(pts, moved, tets)
    assert found.dtype == np.int64 and np.all(np.diff(found) > 0)
    np.testing.assert_array_equal(found, np.flatnonzero(np.sign(v0) * np.sign(v1) < 0))
    n0 = np.cross(b - a, c - a)
    n1 = np.cross(b2 - a2, c2 - a2)
    np.testing.assert_array_equal(velk_morph.inverted_cells(pts, moved, tets[:, :3]),
                                  np.flatnonzero(np.einsum("ij,ij->i", n0, n1) <= 0))


def test_flattened_tetrahedron_and_hexahedron_count_as_inverted():
    flat = TET.copy()
    flat[3] = [0.3, 0.3, 0.0]
    assert velk_morph.inverted_cells(TET, flat, [[0, 1, 2, 3]]).tolist() == [0]
    assert velk_morph.inverted_cells(TET, TET * 2, [[0, 1, 2, 3]]).tolist() == []
    bent = CUBE.copy()
    bent[6] = [-0.5, -0.5, -0.5]
    assert velk_morph.inverted_cells(CUBE, bent, [range(8)]).tolist() == [0]
    assert velk_morph.inverted_cells(CUBE, CUBE + 5, [range(8)]).tolist() == []


@pytest.mark.parametrize("call, message", [
    (lambda: velk_morph.cell_quality(TET, [[0, 1, 2, 4]]), "cells names point 4"),
    (lambda: velk_morph.cell_quality(TET, [[0, 1, -1]]), "cells names point -1"),
    (lambda: velk_morph.cell_quality(TET, [[0, 1, 2, 3, 0]]), r"3 \(triangle\), 4 \(tetrahedron\) or 8"),
    (lambda: velk_morph.cell_quality(TET, [[0.0, 1, 2]]), "cells must hold integers"),
    (lambda: velk_morph.cell_quality(TET[:, :2], [[0, 1, 2]]), r"points must have shape \(N, 3\), got \(4, 2\)"),
    (lambda: velk_morph.cell_quality(np.where(TET == 1, np.inf, TET), [[0, 1, 2]]), "row 1 holds infinity"),
    (lambda: velk_morph.inverted_cells(TET, TET[:3], [[0, 1, 2]]), "points_after"),
    (lambda: velk_morph.inverted_cells(TET, [[np.nan, 0, 0]] * 4, [[0, 1, 2]]), "points_after .*row 0 holds NaN"),
])
def test_refused_input_names_the_argument(call, message):
    with pytest.raises(ValueError, match=message):
        call()
