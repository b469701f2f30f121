"""The whole morphing request: mesh, design block, free nodes, moved subset, deformation, file."""

import pytest

import velk


def target_mesh():
    """A closed box mesh reaching below the block's lower face (from generate_box when present)."""
    if hasattr(velk, "generate_box"):
        return velk.generate_box([1, 1, 2], [0, 0, -0.5], [0, 0, 0], [2, 2, 4])
    nodes = [[x, y, z] for x in (-0.5, 0.5) for y in (-0.5, 0.5) for z in (-1.5, 0.5)]
    cells = [[0, 2, 3], [0, 3, 1], [4, 5, 7], [4, 7, 6], [0, 1, 5], [0, 5, 4],
             [2, 6, 7], [2, 7, 3], [0, 4, 6], [0, 6, 2], [1, 3, 7], [1, 7, 5]]
    return velk.Mesh(nodes, cells)


def test_morphing_workflow(tmp_path):
    mesh = target_mesh()
    block = velk.DesignBlock([2, 2, 2], [0, 0, 0], [0, 0, 0], [4, 4, 4])

    free = block.select_free_design_nodes(mesh)
    assert len(free) == 75  # only the lower face is crossed: layers k = 0, 1 are held
    top = [n for n in free if block.nodes[n][2] == 1.0]
    assert len(top) == 25

    lift = velk.build_transformation_matrix([0, 0, 0.2], [0, 0, 0], [1, 1, 1])
    moved = block.transform_subset(top, lift, [0, 0, 0])
    assert [moved[n][2] for n in top] == [1.2] * 25

    deformer = velk.FreeFormDeformer(block)
    old = mesh.nodes
    new = deformer.deform(old, moved)
    assert len(new) == len(old)
    for p, q in zip(old, new):
        if p[2] < -1.0:
            assert q == p  # outside the block: bit for bit
        else:
            assert q[:2] == pytest.approx(p[:2], abs=1e-14)
            assert q[2] >= p[2] - 1e-14
    tops = [q for p, q in zip(old, new) if p[2] == 0.5]
    assert tops and all(q[2] > 0.5 for q in tops)

    morphed = velk.Mesh(new, mesh.cells)
    assert morphed.cells == mesh.cells
    if not hasattr(velk, "write_stl"):
        pytest.skip("no STL writer in this build")
    path = tmp_path / "morphed.stl"
    velk.write_stl(morphed.nodes, morphed.cells, str(path))
    assert path.stat().st_size > 0
