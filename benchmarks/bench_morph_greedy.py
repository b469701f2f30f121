"""A reduced RbfMorph on a wing surface of 10^5 nodes against scipy's RBFInterpolator with 64
neighbours, the only way scipy takes that many: fit, then morph 10^6 volume points.

The wing: velk's NACA 2412 section (100 chord intervals, its 200 distinct nodes) repeated at 501
span stations from z = 0 to z = 4: 100,200 nodes. Its displacement field: the tip rises by 0.3
growing as (z / 4)^2 (a bend) while each section turns nose down about its quarter chord by 6
degrees times z / 4 (a twist). velk_morph fits RbfMorph(thin_plate_spline, degree 1,
tolerance=1e-3): greedy centres, then the Wendland C2 correction, so every node is exact. The
volume points: 10^6 uniform points in the box [-2, 3] x [-2, 2] x [-1, 6] around the wing.

scipy builds RBFInterpolator(neighbors=64, kernel="thin_plate_spline", degree=1) (a k-d tree)
and solves a 68 x 68 system per query point; it runs at a steady rate per point, so it is timed
on the first 10^5 volume points and scaled to 10^6 (a full run takes several minutes here).
velk's figures are the best of 3 calls with the slowest as spread; scipy's one call. The peak
memory of the fit is measured in a fresh process (its largest resident size less the size before
the fit). Run as a script to print the figures; run() returns the rows for a combined report."""

import json
import os
import subprocess
import sys
import time

import numpy as np
from timing import wall_times

try:
    import velk
    import velk_morph
except ImportError:
    velk_morph = None

try:
    from scipy.interpolate import RBFInterpolator
except ImportError:
    RBFInterpolator = None

REPEATS = 3
TOLERANCE = 1e-3
VOLUME_POINTS = 1_000_000
SCIPY_POINTS = 100_000


def wing():
    strip = velk.generate_naca_wing(2, 4, 12, 100, (0.0, 1.0))
    profile = np.unique(np.array(strip.nodes[0::2])[:, :2], axis=0)
    z = np.linspace(0.0, 4.0, 501)
    nodes = np.column_stack([np.tile(profile, (len(z), 1)), np.repeat(z, len(profile))])
    s = nodes[:, 2] / 4.0
    angle = -np.radians(6.0) * s
    x, y = nodes[:, 0] - 0.25, nodes[:, 1]
    moved = np.column_stack([0.25 + x * np.cos(angle) - y * np.sin(angle),
                             x * np.sin(angle) + y * np.cos(angle) + 0.3 * s**2, nodes[:, 2]])
    return nodes, moved - nodes


def volume():
    rng = np.random.default_rng(0)
    return rng.uniform([-2.0, -2.0, -1.0], [3.0, 2.0, 6.0], size=(VOLUME_POINTS, 3))


def timed(fn):
    """(best, slowest, a result) of REPEATS calls."""
    results = []
    times = wall_times(lambda: results.append(fn()), REPEATS)
    return min(times), max(times), results[-1]


PEAK_CHILD = """
import json, resource, sys
sys.path.insert(0, sys.argv[1])
import bench_morph_greedy as b, velk_morph
nodes, moves = b.wing()
def current_kib():
    with open("/proc/self/status") as status:
        return next(int(line.split()[1]) for line in status if line.startswith("VmRSS"))
before = current_kib()
morph = velk_morph.RbfMorph(nodes, moves, tolerance=b.TOLERANCE)
after = resource.getrusage(resource.RUSAGE_SELF).ru_maxrss
print(json.dumps({"peak_mib": after / 1024, "before_mib": before / 1024}))
"""


def run():
    if velk_morph is None:
        return []
    nodes, moves = wing()
    points = volume()
    fit_best, fit_worst, morph = timed(
        lambda: velk_morph.RbfMorph(nodes, moves, tolerance=TOLERANCE))
    eval_best, eval_worst, _ = timed(lambda: morph.deform(points))
    exact = np.abs(morph.displacement(nodes) - moves).max()
    memory = json.loads(subprocess.run(
        [sys.executable, "-c", PEAK_CHILD, os.path.dirname(os.path.abspath(__file__))],
        capture_output=True, text=True, check=True).stdout)
    row = {"benchmark": "RbfMorph tolerance 1e-3, wing", "size": f"{len(nodes)} nodes",
           "velk_s": fit_best + eval_best, "velk_spread_s": fit_worst + eval_worst,
           "fit_s": fit_best, "fit_worst_s": fit_worst, "eval_s": eval_best,
           "eval_worst_s": eval_worst, "centres": len(morph.centres),
           "max_error": morph.max_error, "largest": float(np.linalg.norm(moves, axis=1).max()),
           "miss_at_controls": float(exact), "peak_mib": memory["peak_mib"],
           "before_fit_mib": memory["before_mib"], "peer": None, "peer_s": None}
    if RBFInterpolator is not None:
        # Beyond the tip, a point's 64 nearest nodes all lie in the tip section's plane, where
        # scipy's linear term is undetermined: it refuses the call. Then degree 0 is timed.
        for degree in (1, 0):
            start = time.perf_counter()
            scipy = RBFInterpolator(nodes, moves, kernel="thin_plate_spline", degree=degree,
                                    neighbors=64)
            scipy_fit = time.perf_counter() - start
            start = time.perf_counter()
            try:
                scipy(points[:SCIPY_POINTS])
                break
            except np.linalg.LinAlgError as error:
                row["scipy_degree_1_error"] = str(error)
        scipy_eval = (time.perf_counter() - start) * VOLUME_POINTS / SCIPY_POINTS
        sample = nodes[::50]
        row.update(peer=f"scipy nbrs=64 deg {degree} (1e5 x 10)", peer_s=scipy_fit + scipy_eval,
                   scipy_fit_s=scipy_fit, scipy_eval_s=scipy_eval,
                   scipy_miss_at_controls=float(np.abs(scipy(sample) - moves[::50]).max()))
    return [row]


if __name__ == "__main__":
    for r in run():
        print(json.dumps(r, indent=1))
        if r["peer_s"]:
            print(f"ratio {r['velk_s'] / r['peer_s']:.4f}")
