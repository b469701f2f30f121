"""The Python boundary: building and reading the result lists of 1,000,000 nodes, with the
cyclic garbage collector on (as every user runs it).

Rows: node list out (translate_nodes of a float64 array) against ndarray.tolist(); node list
in and out (translate_nodes of a list of lists) against numpy.asarray + tolist(); the Mesh.nodes
and Mesh.cells getters of a 1M-node / 2M-cell mesh against tolist() of arrays of the same shape;
read_stl of a 1M-triangle binary file into lists against trimesh.load of it (which merges corners
too); FreeFormDeformer.deform end to end (array in, lists out) against a vectorised numpy
Bernstein FFD (array in, array out). Each call is timed with its result held, as a caller holds
it; dropping the result comes after the timer (the FFD row is given both ways, since freeing a
million lists costs a third of building them, and an array nothing). Run as a script to print
the table.
"""

import gc
import os
import sys
import tempfile

import numpy as np
from timing import held_times

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import bench_ffd  # noqa: E402

NODES = 1_000_000
REPEATS = 5


def grid_mesh(side):
    """A flat side x side grid: side² nodes and 2 (side - 1)² cells."""
    i, j = np.meshgrid(np.arange(side), np.arange(side), indexing="ij")
    nodes = np.stack([i.ravel() * 0.001, j.ravel() * 0.002, np.sin(i.ravel() * 0.01)], axis=1)
    a = (i[:-1, :-1] * side + j[:-1, :-1]).ravel()
    cells = np.concatenate([np.stack([a, a + side, a + 1], 1), np.stack([a + 1, a + side, a + side + 1], 1)])
    return nodes.astype(np.float64), cells.astype(np.int64)


def timed(fn):
    """Best of REPEATS calls with the collector on, each result held until the timer stopped,
    and the spread (worst / best); then the same with the drop of the result timed too."""
    assert gc.isenabled()
    calls, with_drop = held_times(fn, REPEATS)
    return (min(calls), max(calls) / min(calls)), (min(with_drop), max(with_drop) / min(with_drop))


def run():
    import velk

    rows = []
    rng = np.random.default_rng(7)
    array = rng.normal(size=(NODES, 3))
    listed = array.tolist()

    def row(name, size, velk_fn, peer, peer_fn, with_drop_name=None):
        velk_call, velk_drop = timed(velk_fn)
        peer_call, peer_drop = timed(peer_fn)
        for label, (velk_s, velk_spread), (peer_s, peer_spread) in (
                [(name, velk_call, peer_call)]
                + ([(with_drop_name, velk_drop, peer_drop)] if with_drop_name else [])):
            rows.append({"benchmark": label, "size": size, "velk_s": velk_s, "peer": peer, "peer_s": peer_s,
                         "spread": f"{velk_spread:.2f}/{peer_spread:.2f}"})

    row("node list out (translate_nodes, array in)", NODES,
        lambda: velk.translate_nodes(array, [0, 0, 0]), "ndarray.tolist", lambda: array.tolist())
    row("node list in and out (translate_nodes)", NODES,
        lambda: velk.translate_nodes(listed, [0, 0, 0]), "numpy asarray + tolist",
        lambda: np.asarray(listed).tolist())
    del listed

    nodes, cells = grid_mesh(1000)
    mesh = velk.Mesh(nodes, cells)
    row("Mesh.nodes getter", f"{len(nodes)} nodes", lambda: mesh.nodes, "ndarray.tolist", lambda: nodes.tolist())
    row("Mesh.cells getter", f"{len(cells)} cells", lambda: mesh.cells, "ndarray.tolist", lambda: cells.tolist())
    del mesh

    try:
        import trimesh
    except ImportError:
        trimesh = None
    if trimesh is not None:
        nodes, cells = grid_mesh(708)
        with tempfile.TemporaryDirectory() as folder:
            path = os.path.join(folder, "grid.stl")
            velk.Mesh(nodes, cells).write_stl(path, "binary")
            row("read_stl binary into lists", f"{len(cells)} triangles", lambda: velk.read_stl(path),
                "trimesh.load", lambda: trimesh.load(path))

    res = (4, 4, 4)
    block, lattice, moved, points = bench_ffd.problem(res)
    deformer = velk.FreeFormDeformer(block)
    row(f"FFD deform {res} end to end (array in)", NODES, lambda: deformer.deform(points, moved),
        "numpy Bernstein FFD", lambda: bench_ffd.numpy_ffd(points, lattice, moved, res),
        with_drop_name=f"FFD {res} end to end, result dropped")
    return rows


def main():
    print(f"{'benchmark':44} {'size':>20} {'velk s':>8} {'peer':>24} {'peer s':>8} {'ratio':>6} {'spread':>10}")
    for r in run():
        print(f"{r['benchmark']:44} {str(r['size']):>20} {r['velk_s']:8.3f} {r['peer']:>24} "
              f"{r['peer_s']:8.3f} {r['velk_s'] / r['peer_s']:6.3f} {r['spread']:>10}")


if __name__ == "__main__":
    main()
