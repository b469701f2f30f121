"""RbfDeformer against scipy's RBFInterpolator (gaussian kernel, no polynomial term): fitting
500, 1000 and 2000 control points, and deforming 100,000 points. Both get the same standardised
point cloud; scipy's epsilon 1/sqrt(2) gives the same kernel exp(-d²/2) as velk's epsilon 1.

Run as a script to print a table; run() returns the rows for a combined report."""


import numpy as np

import velk
from timing import best_of

try:
    from scipy.interpolate import RBFInterpolator
except ImportError:  # without scipy only velk is timed
    RBFInterpolator = None

FIT_SIZES = (500, 1000, 2000)
DEFORM_POINTS = 100_000
DEFORM_CONTROLS = (500, 2000)


def clouds(count, seed=0):
    rng = np.random.default_rng(seed)
    original = rng.standard_normal((count, 3))
    original = (original - original.mean(0)) / original.std(0)
    deformed = original + 0.1 * np.sin(original[:, [1, 2, 0]])
    return original, deformed


def run():
    rows = []
    for n in FIT_SIZES:
        original, deformed = clouds(n)
        o_list, d_list = original.tolist(), deformed.tolist()
        repeats = 3 if n < 2000 else 1
        velk_s = best_of(lambda: velk.RbfDeformer(o_list, d_list, "gaussian", 1.0), repeats)
        peer_s = RBFInterpolator and best_of(lambda: RBFInterpolator(
            original, deformed, kernel="gaussian", epsilon=2 ** -0.5, degree=-1), repeats)
        rows.append({"benchmark": "fit", "size": n, "velk_s": velk_s,
                     "peer": "scipy.RBFInterpolator", "peer_s": peer_s})
    queries = np.random.default_rng(1).standard_normal((DEFORM_POINTS, 3))
    q_list = queries.tolist()
    for n in DEFORM_CONTROLS:
        original, deformed = clouds(n)
        rbf = velk.RbfDeformer(original.tolist(), deformed.tolist(), "gaussian", 1.0)
        velk_s = best_of(lambda: rbf.deform(q_list))
        peer_s = None
        if RBFInterpolator:
            peer = RBFInterpolator(original, deformed, kernel="gaussian", epsilon=2 ** -0.5,
                                   degree=-1)
            peer_s = best_of(lambda: peer(queries))
        rows.append({"benchmark": f"deform {DEFORM_POINTS} points", "size": n, "velk_s": velk_s,
                     "peer": "scipy.RBFInterpolator", "peer_s": peer_s})
    return rows


def main():
    rows = run()
    print(f"{'benchmark':<24}{'controls':>9}{'velk s':>10}{'scipy s':>10}{'ratio':>8}")
    for r in rows:
        peer = f"{r['peer_s']:>10.3f}{r['velk_s'] / r['peer_s']:>8.2f}" if r["peer_s"] else ""
        print(f"{r['benchmark']:<24}{r['size']:>9}{r['velk_s']:>10.3f}{peer}")
    print("ratio = velk time / scipy time (lower is faster for velk)")


if __name__ == "__main__":
    main()
