"""Writing and reading a 1,000,000-triangle mesh as binary STL, ASCII STL and OBJ: velk against
numpy-stl and trimesh, in one run. Prints a table of times and ratios (velk time / peer time).

velk's times include converting the Python lists in and out, as a user of velk pays them; the
peers work on numpy arrays they already hold."""

import os
import sys
import tempfile

import numpy as np

import velk
from timing import best_of

TRIANGLES = 1_000_000


def grid(triangles):
    """A wavy grid of the given (even) number of triangles: nodes (n, 3) and cells (t, 3)."""
    nx = 501
    ny = triangles // (2 * (nx - 1)) + 1
    x, y = np.meshgrid(np.linspace(0.0, 1.0, nx), np.linspace(0.0, 2.0, ny), indexing="ij")
    z = 0.1 * np.sin(7.0 * x) * np.cos(5.0 * y)
    nodes = np.stack([x.ravel(), y.ravel(), z.ravel()], axis=1)
    i, j = np.meshgrid(np.arange(nx - 1), np.arange(ny - 1), indexing="ij")
    a = (i * ny + j).ravel()
    lower = np.stack([a, a + ny, a + 1], axis=1)
    upper = np.stack([a + 1, a + ny, a + ny + 1], axis=1)
    cells = np.concatenate([lower, upper])[:triangles]
    return nodes, cells


def run(triangles=TRIANGLES):
    nodes, cells = grid(triangles)
    node_list, cell_list = nodes.tolist(), cells.tolist()
    rows = []
    peers = {}
    try:
        import stl  # numpy-stl

        data = np.zeros(len(cells), dtype=stl.mesh.Mesh.dtype)
        data["vectors"] = nodes[cells]
        peers["numpy-stl"] = stl.mesh.Mesh(data)
    except ImportError:
        pass
    try:
        import trimesh

        peers["trimesh"] = trimesh.Trimesh(nodes, cells, process=False)
    except ImportError:
        pass

    mesh = velk.Mesh(nodes, cells)
    with tempfile.TemporaryDirectory() as tmp:
        def path(name):
            return os.path.join(tmp, name)

        cases = [
            ("write binary STL", lambda: velk.write_stl(node_list, cell_list, path("v.stl")),
             {"numpy-stl": lambda m: m.save(path("n.stl"), mode=stl.Mode.BINARY),
              "trimesh": lambda m: m.export(path("t.stl"), file_type="stl")}),
            ("read binary STL", lambda: velk.read_stl(path("v.stl")),
             {"numpy-stl": lambda m: stl.mesh.Mesh.from_file(path("n.stl")),
              "trimesh": lambda m: trimesh.load(path("t.stl"))}),
            # The same files through Mesh, whose nodes and cells stay native (no Python lists).
            ("write binary STL (Mesh.write_stl)", lambda: mesh.write_stl(path("vm.stl")),
             {"numpy-stl": lambda m: m.save(path("n.stl"), mode=stl.Mode.BINARY),
              "trimesh": lambda m: m.export(path("t.stl"), file_type="stl")}),
            ("read binary STL (Mesh.from_stl)", lambda: velk.Mesh.from_stl(path("v.stl")),
             {"numpy-stl": lambda m: stl.mesh.Mesh.from_file(path("n.stl")),
              "trimesh": lambda m: trimesh.load(path("t.stl"))}),
            ("write ASCII STL", lambda: velk.write_stl(node_list, cell_list, path("va.stl"), "ascii"),
             {"numpy-stl": lambda m: m.save(path("na.stl"), mode=stl.Mode.ASCII),
              "trimesh": lambda m: m.export(path("ta.stl"), file_type="stl_ascii")}),
            ("read ASCII STL", lambda: velk.read_stl(path("va.stl")),
             {"numpy-stl": lambda m: stl.mesh.Mesh.from_file(path("na.stl")),
              "trimesh": lambda m: trimesh.load(path("ta.stl"))}),
            ("write OBJ", lambda: velk.write_obj(node_list, cell_list, path("v.obj")),
             {"trimesh": lambda m: m.export(path("t.obj"), file_type="obj")}),
            ("read OBJ", lambda: velk.read_obj(path("v.obj")),
             {"trimesh": lambda m: trimesh.load(path("t.obj"))}),
        ]
        for name, velk_fn, peer_fns in cases:
            velk_s = best_of(velk_fn)
            for peer, fn in peer_fns.items():
                if peer in peers:
                    rows.append({"benchmark": name, "size": triangles, "velk_s": velk_s,
                                 "peer": peer, "peer_s": best_of(lambda: fn(peers[peer]))})
    return rows


def main():
    triangles = int(sys.argv[1]) if len(sys.argv) > 1 else TRIANGLES
    rows = run(triangles)
    print(f"{'benchmark':<34} {'triangles':>10} {'velk s':>8} {'peer':<10} {'peer s':>8} {'ratio':>7}")
    for r in rows:
        print(f"{r['benchmark']:<34} {r['size']:>10} {r['velk_s']:>8.3f} {r['peer']:<10} "
              f"{r['peer_s']:>8.3f} {r['velk_s'] / r['peer_s']:>7.2f}")


if __name__ == "__main__":
    main()
