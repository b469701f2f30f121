"""velk_morph.RbfMorph against scipy's RBFInterpolator, both with thin_plate_spline and a
degree-1 polynomial: the fit at N = 500, 2000 and 4000 control points, and the evaluation of
100,000 points (with the rate in million point-centre pairs per second); then a Wendland C2 fit
of 100,000 controls with about 50 neighbours each, in a fresh process, with its peak memory
(scipy has no compact kernel): mesh-like controls (a jittered grid, as the nodes of a mesh), and
once with independent uniform points, whose close pairs make the sparse system much harder.

Every figure is the best of 5 calls with the spread (slowest / best - 1). velk_morph runs first,
then scipy; after scipy's calls the script pauses briefly so OpenBLAS's spinning threads have
gone to sleep before velk_morph runs again.

Run as a script to print a table; run() returns the rows for run.py's combined report."""

import json
import os
import pathlib
import subprocess
import sys
import time

import numpy as np

sys.path.insert(0, str(pathlib.Path(__file__).resolve().parent))
from timing import wall_times  # noqa: E402

import velk_morph  # noqa: E402

try:
    from scipy.interpolate import RBFInterpolator
except ImportError:  # without scipy only velk_morph is timed
    RBFInterpolator = None

REPEATS = 5
FIT_SIZES = (500, 2000, 4000)
QUERIES = 100_000
WENDLAND_NEIGHBOURS = 50


def controls(n, seed=0):
    rng = np.random.default_rng(seed)
    points = rng.uniform(-1, 1, (n, 3))
    return points, 0.1 * np.sin(2 * points[:, [1, 2, 0]])


def queries():
    return np.random.default_rng(1).uniform(-1.2, 1.2, (QUERIES, 3))


def timed(fn, pause=0.0):
    """(best, spread) of REPEATS calls."""
    times = wall_times(fn, REPEATS)
    time.sleep(pause)  # let OpenBLAS's threads stop spinning before the next velk_morph call
    return min(times), max(times) / min(times) - 1


def row(benchmark, size, velk, peer, peer_times, **extra):
    out = {"benchmark": benchmark, "size": size, "velk_s": velk[0], "velk_spread": velk[1],
           "peer": peer, "peer_s": peer_times[0] if peer_times else None,
           "peer_spread": peer_times[1] if peer_times else None}
    out.update(extra)
    return out


WENDLAND_CHILD = """
import json, sys, time
import numpy as np
import velk_morph
neighbours, spread = int(sys.argv[1]), sys.argv[3]
rng = np.random.default_rng(2)
if spread == "mesh":
    # Mesh-like: a 50 x 50 x 40 grid of spacing 1, each node moved by up to 0.3 per axis.
    axes = [np.arange(50.0), np.arange(50.0), np.arange(40.0)]
    grid = np.stack(np.meshgrid(*axes, indexing="ij"), -1).reshape(-1, 3)
    points = grid + rng.uniform(-0.3, 0.3, grid.shape)
else:
    # Independent uniform points in the same box (close pairs make the system harder).
    points = rng.uniform(0, 1, (100_000, 3)) * [50, 50, 40]
n = len(points)
moved = 0.1 * np.sin(points / 6)
# The support radius that holds about `neighbours` controls: density (4/3) pi r^3 = neighbours.
radius = (neighbours / (n / (50 * 50 * 40)) / (4 / 3 * np.pi)) ** (1 / 3)
def status(field):
    # From /proc: VmRSS (resident now) and VmHWM (peak resident), in bytes; unlike ru_maxrss,
    # the peak starts afresh at exec, so the parent's size does not show.
    for line in open("/proc/self/status"):
        if line.startswith(field + ":"):
            return int(line.split()[1]) * 1024
base = status("VmRSS")
times = []
for _ in range(int(sys.argv[2])):
    start = time.perf_counter()
    morph = velk_morph.RbfMorph(points, moved, kernel="wendland_c2", epsilon=1 / radius)
    times.append(time.perf_counter() - start)
peak = status("VmHWM")
miss = np.abs(morph.displacement(points) - moved).max() / np.abs(moved).max()
print(json.dumps([n, times, base, peak, miss]))
"""


def wendland_fit(spread, repeats):
    """Controls, times of the Wendland C2 fit, the process's memory before and its peak after, and
    the largest miss at the controls relative to the largest displacement, from a fresh
    process."""
    done = subprocess.run([sys.executable, "-c", WENDLAND_CHILD, str(WENDLAND_NEIGHBOURS),
                           str(repeats), spread], capture_output=True, text=True, check=True)
    return json.loads(done.stdout.strip().splitlines()[-1])


def run():
    rows = []
    for n in FIT_SIZES:
        points, moved = controls(n)
        velk = timed(lambda: velk_morph.RbfMorph(points, moved))
        peer = RBFInterpolator and timed(lambda: RBFInterpolator(
            points, moved, kernel="thin_plate_spline", degree=1), pause=0.5)
        rows.append(row("morph rbf fit thin_plate_spline deg 1", n, velk,
                        "scipy.RBFInterpolator", peer))
    q = queries()
    for n in FIT_SIZES:
        points, moved = controls(n)
        morph = velk_morph.RbfMorph(points, moved)
        velk = timed(lambda: morph.displacement(q))
        peer = None
        if RBFInterpolator:
            interpolator = RBFInterpolator(points, moved, kernel="thin_plate_spline", degree=1)
            peer = timed(lambda: interpolator(q), pause=0.5)
        rows.append(row(f"morph rbf eval {QUERIES} points tps deg 1", n, velk,
                        "scipy.RBFInterpolator", peer, mpairs_s=QUERIES * n / velk[0] / 1e6))
    # Mesh-like controls (the case of mesh motion) at 5 repeats; uniform random ones once.
    for spread, repeats in [("mesh", REPEATS), ("uniform", 1)]:
        n, times, base, peak, miss = wendland_fit(spread, repeats)
        rows.append(row(f"morph rbf fit wendland_c2 ~{WENDLAND_NEIGHBOURS} nb {spread}", n,
                        (min(times), max(times) / min(times) - 1), None, None,
                        peak_bytes=peak, base_bytes=base, miss=miss))
    return rows


def note(r):
    if "mpairs_s" in r:
        return f"{r['mpairs_s']:.0f} M pairs/s"
    if "peak_bytes" in r:
        return (f"peak memory {r['peak_bytes'] / 2**20:.0f} MiB (process before the fit "
                f"{r['base_bytes'] / 2**20:.0f} MiB); miss at controls {r['miss']:.1e}")
    return ""


def main():
    for r in run():
        figures = f"velk_morph {r['velk_s']:.4f} s (spread {r['velk_spread']:.2f})"
        if r["peer_s"]:
            figures += (f", scipy {r['peer_s']:.4f} s (spread {r['peer_spread']:.2f}), "
                        f"ratio {r['velk_s'] / r['peer_s']:.3f}")
        print(f"{r['benchmark']} [{r['size']}]: {figures}  {note(r)}".rstrip())
    print("ratio = velk_morph time / scipy time (lower is faster for velk_morph); spread = "
          "slowest / best - 1 of 5 calls")


if __name__ == "__main__":
    main()
