"""Writing and reading a 1,000,000-triangle mesh as binary STL, ASCII STL and OBJ: velk against
numpy-stl and trimesh, in one run. Prints a table of times and ratios (velk time / peer time),
each time the best of several calls with the spread (slowest / best - 1) beside it, and the
1 -> 2 thread scaling of the native binary STL paths (each thread count in its own process).

velk's times include converting the Python lists in and out, as a user of velk pays them; the
peers work on numpy arrays they already hold."""

import json
import os
import subprocess
import sys
import tempfile

import numpy as np

import velk
from timing import best_and_spread

TRIANGLES = 1_000_000
# Calls per timing: binary files are quick, text files slow.
BINARY_REPEATS, TEXT_REPEATS = 5, 3


# Run in a child process with RAYON_NUM_THREADS set: the native binary STL write and read.
SCALING_SCRIPT = """
import json, os, sys
sys.path.insert(0, {here!r})
import velk
from bench_io import grid
from timing import best_and_spread
nodes, cells = grid({triangles})
mesh = velk.Mesh(nodes, cells)
path = os.path.join({tmp!r}, "s.stl")
write = best_and_spread(lambda: mesh.write_stl(path), {repeats})
read = best_and_spread(lambda: velk.Mesh.from_stl(path), {repeats})
print(json.dumps({{"write": write, "read": read}}))
"""


def thread_scaling(triangles, tmp):
    """Rows of the 2-thread times against the 1-thread times, each from its own process."""
    results = {}
    for threads in ("1", "2"):
        script = SCALING_SCRIPT.format(here=os.path.dirname(os.path.abspath(__file__)),
                                       triangles=triangles, tmp=tmp, repeats=BINARY_REPEATS)
        env = dict(os.environ, RAYON_NUM_THREADS=threads)
        out = subprocess.run([sys.executable, "-c", script], env=env, capture_output=True,
                             text=True, check=True).stdout
        results[threads] = json.loads(out)
    rows = []
    for key, name in (("write", "Mesh.write_stl binary, 1 -> 2 threads"),
                      ("read", "Mesh.from_stl binary, 1 -> 2 threads")):
        (two, two_spread), (one, one_spread) = results["2"][key], results["1"][key]
        rows.append({"benchmark": name, "size": triangles, "velk_s": two, "velk_spread": two_spread,
                     "peer": "velk, 1 thread", "peer_s": one, "peer_spread": one_spread})
    return rows


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

        # (name, velk call, peer calls, repeats)
        cases = [
            ("write binary STL", lambda: velk.write_stl(node_list, cell_list, path("v.stl")),
             {"numpy-stl": lambda m: m.save(path("n.stl"), mode=stl.Mode.BINARY),
              "trimesh": lambda m: m.export(path("t.stl"), file_type="stl")}, BINARY_REPEATS),
            ("read binary STL", lambda: velk.read_stl(path("v.stl")),
             {"numpy-stl": lambda m: stl.mesh.Mesh.from_file(path("n.stl")),
              "trimesh": lambda m: trimesh.load(path("t.stl"))}, BINARY_REPEATS),
            # The same files through Mesh, whose nodes and cells stay native (no Python lists).
            ("write binary STL (Mesh.write_stl)", lambda: mesh.write_stl(path("vm.stl")),
             {"numpy-stl": lambda m: m.save(path("n.stl"), mode=stl.Mode.BINARY),
              "trimesh": lambda m: m.export(path("t.stl"), file_type="stl")}, BINARY_REPEATS),
            ("read binary STL (Mesh.from_stl)", lambda: velk.Mesh.from_stl(path("v.stl")),
             {"numpy-stl": lambda m: stl.mesh.Mesh.from_file(path("n.stl")),
              "trimesh": lambda m: trimesh.load(path("t.stl"))}, BINARY_REPEATS),
            ("write ASCII STL", lambda: velk.write_stl(node_list, cell_list, path("va.stl"), "ascii"),
             {"numpy-stl": lambda m: m.save(path("na.stl"), mode=stl.Mode.ASCII),
              "trimesh": lambda m: m.export(path("ta.stl"), file_type="stl_ascii")}, TEXT_REPEATS),
            ("read ASCII STL", lambda: velk.read_stl(path("va.stl")),
             {"numpy-stl": lambda m: stl.mesh.Mesh.from_file(path("na.stl")),
              "trimesh": lambda m: trimesh.load(path("ta.stl"))}, TEXT_REPEATS),
            ("write OBJ", lambda: velk.write_obj(node_list, cell_list, path("v.obj")),
             {"trimesh": lambda m: m.export(path("t.obj"), file_type="obj")}, TEXT_REPEATS),
            ("read OBJ", lambda: velk.read_obj(path("v.obj")),
             {"trimesh": lambda m: trimesh.load(path("t.obj"))}, TEXT_REPEATS),
        ]
        for name, velk_fn, peer_fns, repeats in cases:
            velk_s, velk_spread = best_and_spread(velk_fn, repeats)
            for peer, fn in peer_fns.items():
                if peer in peers:
                    peer_s, peer_spread = best_and_spread(lambda: fn(peers[peer]), repeats)
                    rows.append({"benchmark": name, "size": triangles, "velk_s": velk_s,
                                 "velk_spread": velk_spread, "peer": peer, "peer_s": peer_s,
                                 "peer_spread": peer_spread})
        rows += thread_scaling(triangles, tmp)
    return rows


def main():
    triangles = int(sys.argv[1]) if len(sys.argv) > 1 else TRIANGLES
    rows = run(triangles)
    print(f"{'benchmark':<38} {'triangles':>10} {'velk s':>8} {'spread':>7} {'peer':<15} "
          f"{'peer s':>8} {'spread':>7} {'ratio':>7}")
    for r in rows:
        print(f"{r['benchmark']:<38} {r['size']:>10} {r['velk_s']:>8.4f} {r['velk_spread']:>7.1%} "
              f"{r['peer']:<15} {r['peer_s']:>8.4f} {r['peer_spread']:>7.1%} "
              f"{r['velk_s'] / r['peer_s']:>7.2f}")


if __name__ == "__main__":
    main()
