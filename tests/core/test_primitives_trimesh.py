"""Cross-check of the closed generators with trimesh: watertight, consistently wound, and the
same signed volume as our own triple-product sum."""

import pytest
import velk

from surface_checks import signed_volume

trimesh = pytest.importorskip("trimesh")

CLOSED = {
    "box": lambda: velk.generate_box((1, 2, 3), (0.5, 0, -1), (10, 20, 30), (3, 4, 5)),
    "icosphere": lambda: velk.generate_icosphere(1.5, (1, 2, 3), 3),
    "uvsphere": lambda: velk.generate_uvsphere(2.0, (0, -1, 0), 24, 12),
    "cylinder": lambda: velk.generate_cylinder(1.0, 3.0, (0, 0, 2), 20, 4),
    "cone": lambda: velk.generate_cone(1.0, 2.0, (1, 1, 1), 20),
}


@pytest.mark.parametrize("name", CLOSED)
def test_trimesh_sees_a_closed_consistent_surface(name):
    mesh = CLOSED[name]()
    nodes, cells = mesh.nodes, mesh.cells
    peer = trimesh.Trimesh(vertices=nodes, faces=cells, process=False)
    assert len(peer.vertices) == len(nodes) and len(peer.faces) == len(cells)
    assert peer.is_watertight
    assert peer.is_winding_consistent
    assert peer.volume == pytest.approx(signed_volume(nodes, cells), rel=1e-9)
    expected_sign = -1 if name in ("cylinder", "cone") else 1
    assert peer.volume * expected_sign > 0
