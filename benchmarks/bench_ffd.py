"""Free-form deformation of 1,000,000 points: velk against a vectorised numpy implementation.

Times FreeFormDeformer.deform for every point inside a design block of resolution (4, 4, 4) and
(9, 9, 9), the points given as a float64 numpy array, with 1 and 2 worker threads (each in its own
process, RAYON_NUM_THREADS), and the same trivariate Bernstein deformation written with numpy in
this process. velk's time includes reading the array and building the result list of lists; the
"beyond the lists" row is that time less the time of translate_nodes on the same array, which
reads and builds exactly as much. With one thread that is the kernel's time; with two, the list
is built while the pool still deforms the points behind it, so the row shows only what the
overlap leaves of the kernel (ffd_kernel_timing.cpp times the kernel alone, without Python, for
its own 1 -> 2 thread scaling). Best of 5, with the slowest of the 5 as the spread. Run as a
script to print the table.
"""

import json
import math
import os
import subprocess
import sys

import numpy as np
from timing import wall_times

POINTS = 1_000_000
RESOLUTIONS = [(4, 4, 4), (9, 9, 9)]
LENGTH, CENTRE, THETA = [2.0, 3.0, 1.5], [0.1, -0.2, 0.3], [0.0, 0.0, 25.0]
CHUNK = 50_000
REPEATS = 5


def rotation(theta):
    ax, ay, az = (math.radians(a) for a in theta)
    rx = np.array([[1, 0, 0], [0, math.cos(ax), -math.sin(ax)], [0, math.sin(ax), math.cos(ax)]])
    ry = np.array([[math.cos(ay), 0, math.sin(ay)], [0, 1, 0], [-math.sin(ay), 0, math.cos(ay)]])
    rz = np.array([[math.cos(az), -math.sin(az), 0], [math.sin(az), math.cos(az), 0], [0, 0, 1]])
    return rx @ ry @ rz


def problem(res):
    """Lattice, moved lattice and points strictly inside the block, the same in every process."""
    import velk

    rng = np.random.default_rng(2024)
    block = velk.DesignBlock(LENGTH, CENTRE, THETA, list(res))
    nodes = np.array(block.nodes)
    moved = nodes + rng.normal(scale=0.05, size=nodes.shape)
    local = rng.uniform(0.001, 0.999, size=(POINTS, 3))
    points = np.asarray(CENTRE) + ((local - 0.5) * np.asarray(LENGTH)) @ rotation(THETA).T
    return block, nodes, moved, points


def numpy_ffd(points, nodes, moved, res):
    r = rotation(THETA)
    length, centre = np.asarray(LENGTH), np.asarray(CENTRE)
    grid = (((moved - nodes) @ r) / length).reshape(res[0] + 1, res[1] + 1, res[2] + 1, 3)
    combs = [np.array([math.comb(n, k) for k in range(n + 1)], float) for n in res]
    out = points.copy()
    for start in range(0, len(points), CHUNK):
        p = points[start:start + CHUNK]
        local = ((p - centre) @ r) / length + 0.5
        inside = np.all((local >= 0) & (local <= 1), axis=1)
        s = local[inside]
        b = []
        for axis, n in enumerate(res):
            k = np.arange(n + 1)
            v = s[:, axis:axis + 1]
            b.append(combs[axis] * v ** k * (1 - v) ** (n - k))
        # Contract z, then y, then x: (p,k)x(i,j,k,c) -> (p,i,j,c) -> (p,i,c) -> (p,c).
        t = np.einsum("pk,ijkc->pijc", b[2], grid, optimize=True)
        t = np.einsum("pj,pijc->pic", b[1], t, optimize=True)
        delta = np.einsum("pi,pic->pc", b[0], t, optimize=True)
        block = out[start:start + CHUNK]
        block[inside] = centre + ((s + delta - 0.5) * length) @ r.T
    return out


def time_velk(res, repeats=1):
    """Wall times of `repeats` deform calls and of as many translate_nodes calls on the same
    array, and the last deformation."""
    import velk

    block, nodes, moved, points = problem(res)
    deformer = velk.FreeFormDeformer(block)
    moved_list = moved.tolist()
    deform_s, lists_s = [], []
    for _ in range(repeats):  # alternating, so both see the same state of a shared machine
        deform_s += wall_times(lambda: deformer.deform(points, moved_list), 1)
        lists_s += wall_times(lambda: velk.translate_nodes(points, [0.0, 0.0, 0.0]), 1)
    return deform_s, lists_s, deformer.deform(points, moved_list)


def velk_in_subprocess(res, threads):
    env = dict(os.environ, RAYON_NUM_THREADS=str(threads))
    done = subprocess.run([sys.executable, os.path.abspath(__file__), "--velk", ",".join(map(str, res))],
                          env=env, capture_output=True, text=True, check=True)
    return json.loads(done.stdout.strip().splitlines()[-1])


def run():
    rows = []
    for res in RESOLUTIONS:
        _, nodes, moved, points = problem(res)
        numpy_s = wall_times(lambda: numpy_ffd(points, nodes, moved, res), REPEATS)
        expected = numpy_ffd(points, nodes, moved, res)
        # One check that both compute the same deformation.
        _, _, out = time_velk(res)
        err = float(np.max(np.abs(np.asarray(out) - expected)))
        assert err < 1e-10, err
        del out, expected
        for threads in (1, 2):
            t = velk_in_subprocess(res, threads)
            deform_s, lists_s = t["deform"], t["lists"]
            suffix = f"{threads} thread{'s' if threads > 1 else ''}"
            common = {"size": POINTS, "peer": "numpy", "peer_s": min(numpy_s),
                      "peer_spread_s": max(numpy_s)}
            rows.append({"benchmark": f"ffd deform {res} array in, {suffix}",
                         "velk_s": min(deform_s), "velk_spread_s": max(deform_s), **common})
            rows.append({"benchmark": f"ffd beyond the lists {res}, {suffix}",
                         "velk_s": min(deform_s) - min(lists_s),
                         "velk_spread_s": max(deform_s) - min(lists_s), **common})
    return rows


def main():
    if len(sys.argv) == 3 and sys.argv[1] == "--velk":
        res = tuple(int(v) for v in sys.argv[2].split(","))
        deform_s, lists_s, _ = time_velk(res, repeats=REPEATS)
        print(json.dumps({"deform": deform_s, "lists": lists_s}))
        return
    rows = run()
    print(f"{'benchmark':40} {'velk s':>8} {'(worst)':>8} {'numpy s':>8} {'(worst)':>8} "
          f"{'ratio':>6} {'1->2 threads':>12}")
    for i, row in enumerate(rows):
        one = rows[i - (i % 4) + (i % 2)]["velk_s"]  # the same row at 1 thread
        print(f"{row['benchmark']:40} {row['velk_s']:>8.3f} {row['velk_spread_s']:>8.3f} "
              f"{row['peer_s']:>8.3f} {row['peer_spread_s']:>8.3f} "
              f"{row['velk_s'] / row['peer_s']:>6.3f} {one / row['velk_s']:>12.2f}")


if __name__ == "__main__":
    main()
