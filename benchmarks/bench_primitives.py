"""Sphere generation: velk's icosphere and UV sphere against trimesh.creation, timed in the same
run at matched sizes. Prints a table of sizes, times (best of 5 and the slowest of the 5) and
ratios (velk time / peer time), and velk's 1 -> 2 thread scaling (RAYON_NUM_THREADS, each in its
own process).

trimesh's uv_sphere(count=[a, b]) gives about twice the triangles of velk's (sectors=a, stacks=b):
count=[1000, 500] builds 998,002 vertices and 1,996,000 triangles against velk's 999,002 nodes and
1,998,000 triangles at (1000, 1000), so those two are compared.

Run: python benchmarks/bench_primitives.py
"""

import json
import os
import subprocess
import sys

import velk
from timing import wall_times

REPEATS = 5

CASES = {
    "icosphere": ("7 subdivisions (163842 nodes, 327680 cells)",
                  lambda: velk.generate_icosphere(1.0, (0.0, 0.0, 0.0), 7)),
    "uvsphere": ("1000 x 1000 (999002 nodes, 1998000 cells)",
                 lambda: velk.generate_uvsphere(1.0, (0.0, 0.0, 0.0), 1000, 1000)),
}


def peers(trimesh):
    return {
        "icosphere": lambda: trimesh.creation.icosphere(subdivisions=7, radius=1.0),
        "uvsphere": lambda: trimesh.creation.uv_sphere(radius=1.0, count=[1000, 500]),
    }


def warm_wall_times(fn, repeats=REPEATS):
    fn()  # warm up
    return wall_times(fn, repeats)


def velk_in_subprocess(name, threads):
    env = dict(os.environ, RAYON_NUM_THREADS=str(threads))
    done = subprocess.run([sys.executable, os.path.abspath(__file__), "--velk", name], env=env,
                          capture_output=True, text=True, check=True)
    return json.loads(done.stdout.strip().splitlines()[-1])


def run():
    """One row per case: dict with benchmark, size, velk_s (default thread count), peer, peer_s
    (peer and peer_s are None when trimesh is not installed), the slowest times and velk's times at
    1 and 2 threads."""
    try:
        import trimesh
    except ImportError:
        trimesh = None
    rows = []
    for name, (size, ours) in CASES.items():
        times = warm_wall_times(ours)
        row = {"benchmark": name, "size": size, "velk_s": min(times), "velk_spread_s": max(times),
               "velk_1_thread_s": min(velk_in_subprocess(name, 1)),
               "velk_2_threads_s": min(velk_in_subprocess(name, 2))}
        if trimesh:
            peer = warm_wall_times(peers(trimesh)[name])
            row.update(peer="trimesh.creation", peer_s=min(peer), peer_spread_s=max(peer))
        else:
            row.update(peer=None, peer_s=None)
        rows.append(row)
    return rows


def main():
    if len(sys.argv) == 3 and sys.argv[1] == "--velk":
        print(json.dumps(warm_wall_times(CASES[sys.argv[2]][1])))
        return
    rows = run()
    print(f"{'benchmark':<10} {'size':<44} {'velk s':>8} {'(worst)':>8} {'trimesh s':>10} "
          f"{'(worst)':>8} {'ratio':>7} {'1->2 threads':>12}")
    for r in rows:
        peer = f"{r['peer_s']:>10.4f} {r['peer_spread_s']:>8.4f}" if r["peer_s"] else f"{'-':>19}"
        ratio = f"{r['velk_s'] / r['peer_s']:>7.3f}" if r["peer_s"] else f"{'-':>7}"
        scaling = r["velk_1_thread_s"] / r["velk_2_threads_s"]
        print(f"{r['benchmark']:<10} {r['size']:<44} {r['velk_s']:>8.4f} {r['velk_spread_s']:>8.4f} "
              f"{peer} {ratio} {scaling:>12.2f}")


if __name__ == "__main__":
    main()
