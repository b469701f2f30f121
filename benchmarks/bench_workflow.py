"""The whole design job on a 1.3M-triangle binary STL: read it, pick the free design nodes of a
block around it, deform it with FFD and write the result; against trimesh merely reading and
writing the same file. The collector is on, as every user runs. Run as a script for the table.
"""

import gc
import os
import tempfile

import numpy as np
from timing import best_of

SIDE = 807  # 2 * 806² = 1,299,272 triangles
REPEATS = 5


def surface(side):
    """A wavy side x side surface in the unit square: side² nodes and 2 (side - 1)² cells."""
    u, v = np.meshgrid(np.linspace(0, 1, side), np.linspace(0, 1, side), indexing="ij")
    nodes = np.stack([u.ravel(), v.ravel(), 0.1 * np.sin(6 * u.ravel()) * np.cos(4 * v.ravel())], axis=1)
    i, j = np.meshgrid(np.arange(side - 1), np.arange(side - 1), indexing="ij")
    a = (i * side + j).ravel()
    cells = np.concatenate([np.stack([a, a + side, a + 1], 1), np.stack([a + 1, a + side, a + side + 1], 1)])
    return nodes, cells.astype(np.int64)


def velk_job(velk, source, target):
    mesh = velk.Mesh.from_stl(source)
    block = velk.DesignBlock([1.2, 1.2, 0.6], [0.5, 0.5, 0.0], [0.0, 0.0, 0.0], [4, 4, 2])
    free = block.select_free_design_nodes(mesh)
    matrix = velk.build_transformation_matrix([0.0, 0.0, 0.05], [2.0, 0.0, 0.0], [1.0, 1.0, 1.0])
    moved = block.transform_subset(free, matrix, [0.5, 0.5, 0.0])
    mesh.nodes = velk.FreeFormDeformer(block).deform(mesh.nodes, moved)
    mesh.write_stl(target, "binary")


def run():
    import velk

    rows = []
    try:
        import trimesh
    except ImportError:
        return rows
    nodes, cells = surface(SIDE)
    with tempfile.TemporaryDirectory() as folder:
        source = os.path.join(folder, "surface.stl")
        velk.Mesh(nodes, cells).write_stl(source, "binary")
        assert gc.isenabled()

        def trimesh_job():
            trimesh.load(source).export(os.path.join(folder, "t.stl"), file_type="stl")

        velk_times = [best_of(lambda: velk_job(velk, source, os.path.join(folder, "v.stl"))) for _ in range(REPEATS)]
        peer_times = [best_of(trimesh_job) for _ in range(REPEATS)]
    rows.append({"benchmark": "read, select free, FFD, write (binary STL)", "size": f"{len(cells)} triangles",
                 "velk_s": min(velk_times), "peer": "trimesh read + write", "peer_s": min(peer_times),
                 "spread": f"{max(velk_times) / min(velk_times):.2f}/{max(peer_times) / min(peer_times):.2f}"})
    return rows


def main():
    for r in run():
        print(f"{r['benchmark']}  {r['size']}: velk {r['velk_s']:.3f} s, {r['peer']} {r['peer_s']:.3f} s, "
              f"ratio {r['velk_s'] / r['peer_s']:.3f} (spread {r['spread']})")


if __name__ == "__main__":
    main()
