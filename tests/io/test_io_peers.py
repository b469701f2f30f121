"""Cross-checks with peer libraries: they read what velk writes, and velk reads what they
write (same triangles, same winding)."""

import pytest

import velk

np = pytest.importorskip("numpy")

NODES = [[0, 0, 0], [1, 0, 0], [0, 1, 0], [0, 0, 1], [0.25, 0.5, -1.75], [-3.5, 2, 1e-3]]
CELLS = [[0, 2, 1], [0, 1, 3], [0, 3, 2], [1, 2, 3], [4, 5, 0], [5, 4, 2]]


def corner_array():
    return np.array(NODES, dtype=np.float64)[np.array(CELLS)]


def f32(a):
    return np.asarray(a, dtype=np.float32)


@pytest.mark.parametrize("fmt", ["ascii", None])
def test_numpy_stl_reads_velk(tmp_path, fmt):
    stl_mesh = pytest.importorskip("stl.mesh")
    path = str(tmp_path / "v.stl")
    velk.write_stl(NODES, CELLS, path, fmt)
    m = stl_mesh.Mesh.from_file(path, calculate_normals=False)
    assert np.array_equal(m.vectors, f32(corner_array()))
    # the stored normals point the way the winding says, scaled to unit length
    expected = np.array(velk.Mesh(NODES, CELLS).cell_normals())
    assert np.allclose(m.normals, expected, atol=1e-6)


@pytest.mark.parametrize("fmt", ["ascii", None])
def test_trimesh_reads_velk_stl(tmp_path, fmt):
    trimesh = pytest.importorskip("trimesh")
    path = str(tmp_path / "v.stl")
    velk.write_stl(NODES, CELLS, path, fmt)
    m = trimesh.load(path, process=False)
    assert np.array_equal(f32(m.vertices[m.faces]), f32(corner_array()))


@pytest.mark.parametrize("ascii", [True, False])
def test_velk_reads_numpy_stl(tmp_path, ascii):
    stl = pytest.importorskip("stl")
    data = np.zeros(len(CELLS), dtype=stl.mesh.Mesh.dtype)
    data["vectors"] = corner_array()
    path = str(tmp_path / "n.stl")
    stl.mesh.Mesh(data).save(path, mode=stl.Mode.ASCII if ascii else stl.Mode.BINARY)
    nodes, cells = velk.read_stl(path)
    got = np.array(nodes)[np.array(cells)]
    if ascii:  # text written with a limited number of digits
        assert np.allclose(got, corner_array(), rtol=1e-6, atol=1e-9)
    else:
        assert np.array_equal(got, f32(corner_array()).astype(np.float64))
    assert len(nodes) == len(NODES)


@pytest.mark.parametrize("file_type", ["stl", "stl_ascii"])
def test_velk_reads_trimesh_stl(tmp_path, file_type):
    trimesh = pytest.importorskip("trimesh")
    path = str(tmp_path / "t.stl")
    trimesh.Trimesh(np.array(NODES, float), np.array(CELLS), process=False).export(path, file_type=file_type)
    nodes, cells = velk.read_stl(path)
    got = np.array(nodes)[np.array(cells)]
    assert np.allclose(got, corner_array(), rtol=1e-6, atol=1e-9)
    assert len(nodes) == len(NODES) and len(cells) == len(CELLS)


def test_trimesh_and_meshio_read_velk_obj(tmp_path):
    path = str(tmp_path / "v.obj")
    velk.write_obj(NODES, CELLS, path)
    trimesh = pytest.importorskip("trimesh")
    m = trimesh.load(path, process=False)
    assert np.array_equal(m.vertices[m.faces], corner_array())
    meshio = pytest.importorskip("meshio")
    mm = meshio.read(path)
    assert np.array_equal(mm.points, np.array(NODES, float))
    assert np.array_equal(mm.cells_dict["triangle"], np.array(CELLS))


def test_velk_reads_meshio_obj(tmp_path):
    meshio = pytest.importorskip("meshio")
    path = str(tmp_path / "m.obj")
    meshio.write_points_cells(path, np.array(NODES, float), [("triangle", np.array(CELLS))])
    nodes, cells = velk.read_obj(path)
    assert np.allclose(nodes, NODES) and cells == CELLS


@pytest.mark.parametrize("count", [0, 1, 6])
def test_vtk_reads_velk_vtp(tmp_path, count):
    vtk = pytest.importorskip("vtk")
    from vtk.util.numpy_support import vtk_to_numpy

    path = str(tmp_path / "p.vtp")
    velk.write_vtp(NODES[:count], path)
    reader = vtk.vtkXMLPolyDataReader()
    reader.SetFileName(path)
    reader.Update()
    assert reader.GetErrorCode() == 0
    poly = reader.GetOutput()
    assert poly.GetNumberOfPoints() == count
    assert poly.GetNumberOfVerts() == count
    if count:
        assert np.array_equal(vtk_to_numpy(poly.GetPoints().GetData()), np.array(NODES[:count], float))
        verts = poly.GetVerts()
        assert np.array_equal(vtk_to_numpy(verts.GetConnectivityArray()), np.arange(count))
        assert np.array_equal(vtk_to_numpy(verts.GetOffsetsArray()), np.arange(count + 1))
