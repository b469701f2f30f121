"""RbfDeformer against scipy's RBFInterpolator (no polynomial term): fitting 500 to 4000 control
points with the gaussian kernel, and deforming 100,000 points with 2000 centres (gaussian and
thin_plate_spline) and 500 centres (gaussian). Both get the same standardised point cloud;
scipy's epsilon 1/sqrt(2) gives the same gaussian exp(-d²/2) as velk's epsilon 1 (the thin plate
spline has no shape parameter). velk's times include converting the Python lists in and out.

Every figure is the best of 5 calls, with the slowest of the 5 as its spread. velk runs first,
then scipy; after scipy's calls the script pauses briefly so that OpenBLAS's spinning threads
have gone to sleep before velk's next call. The 1 -> 2 thread scaling of velk is measured in
fresh processes with RAYON_NUM_THREADS=1 and 2.

Run as a script to print a table; run() returns the rows for a combined report."""

import json
import os
import subprocess
import sys
import time

import numpy as np

import velk

try:
    from scipy.interpolate import RBFInterpolator
except ImportError:  # without scipy only velk is timed
    RBFInterpolator = None

REPEATS = 5
FIT_SIZES = (500, 1000, 2000, 4000)
DEFORM_POINTS = 100_000
DEFORMS = (("gaussian", 500), ("gaussian", 2000), ("thin_plate_spline", 2000))
SCALING_FITS = (2000, 4000)
SCIPY_EPSILON = 2 ** -0.5


def clouds(count, seed=0):
    rng = np.random.default_rng(seed)
    original = rng.standard_normal((count, 3))
    original = (original - original.mean(0)) / original.std(0)
    deformed = original + 0.1 * np.sin(original[:, [1, 2, 0]])
    return original, deformed


def queries():
    return np.random.default_rng(1).standard_normal((DEFORM_POINTS, 3))


def timed(fn, repeats=REPEATS):
    """(best, slowest) wall time of `repeats` calls."""
    times = []
    for _ in range(repeats):
        start = time.perf_counter()
        fn()
        times.append(time.perf_counter() - start)
    return min(times), max(times)


def peer_timed(fn, repeats=REPEATS):
    result = timed(fn, repeats)
    time.sleep(0.5)  # let OpenBLAS's threads stop spinning before velk runs again
    return result


def velk_fit(n):
    original, deformed = clouds(n)
    o_list, d_list = original.tolist(), deformed.tolist()
    return timed(lambda: velk.RbfDeformer(o_list, d_list, "gaussian", 1.0))


def velk_deform(kernel, n):
    original, deformed = clouds(n)
    rbf = velk.RbfDeformer(original.tolist(), deformed.tolist(), kernel, 1.0)
    q_list = queries().tolist()
    return timed(lambda: rbf.deform(q_list))


def row(benchmark, size, velk_times, peer, peer_times, **extra):
    out = {"benchmark": benchmark, "size": size, "velk_s": velk_times[0],
           "velk_spread_s": velk_times[1], "peer": peer,
           "peer_s": peer_times[0] if peer_times else None,
           "peer_spread_s": peer_times[1] if peer_times else None}
    out.update(extra)
    return out


def in_subprocess(threads, task):
    """velk's (best, slowest) times for `task` in a fresh process with `threads` threads."""
    env = dict(os.environ, RAYON_NUM_THREADS=str(threads))
    done = subprocess.run([sys.executable, os.path.abspath(__file__), "--velk", json.dumps(task)],
                          env=env, capture_output=True, text=True, check=True)
    return json.loads(done.stdout.strip().splitlines()[-1])


def scaling_tasks():
    return [["fit", n] for n in SCALING_FITS] + [["deform", k, n] for k, n in DEFORMS if n == 2000]


def run_task(task):
    return velk_fit(task[1]) if task[0] == "fit" else velk_deform(task[1], task[2])


def run():
    rows = []
    for n in FIT_SIZES:
        original, deformed = clouds(n)
        velk_times = velk_fit(n)
        peer_times = RBFInterpolator and peer_timed(lambda: RBFInterpolator(
            original, deformed, kernel="gaussian", epsilon=SCIPY_EPSILON, degree=-1))
        rows.append(row("rbf fit gaussian", n, velk_times, "scipy.RBFInterpolator", peer_times))
    q = queries()
    for kernel, n in DEFORMS:
        velk_times = velk_deform(kernel, n)
        peer_times = None
        if RBFInterpolator:
            original, deformed = clouds(n)
            peer = RBFInterpolator(original, deformed, kernel=kernel, epsilon=SCIPY_EPSILON,
                                   degree=-1)
            peer_times = peer_timed(lambda: peer(q))
        rows.append(row(f"rbf deform {DEFORM_POINTS} points {kernel}", n, velk_times,
                        "scipy.RBFInterpolator", peer_times,
                        velk_mpairs_s=DEFORM_POINTS * n / velk_times[0] / 1e6))
    # Thread scaling: the 2-thread time against the 1-thread time (ratio = 1 / speed-up).
    for task in scaling_tasks():
        one, two = in_subprocess(1, task), in_subprocess(2, task)
        name = f"rbf {task[0]} {task[1]} 2 threads" if task[0] == "fit" else \
            f"rbf deform {DEFORM_POINTS} points {task[1]} 2 threads"
        rows.append(row(name, task[-1], two, "velk 1 thread", one, speed_up=one[0] / two[0]))
    return rows


def main():
    if len(sys.argv) == 3 and sys.argv[1] == "--velk":
        print(json.dumps(run_task(json.loads(sys.argv[2]))))
        return
    rows = run()
    print(f"{'benchmark':48}{'size':>6}{'velk s':>9}{'(worst)':>9}{'peer s':>9}{'(worst)':>9}"
          f"{'ratio':>7}  note")
    for r in rows:
        peer = (f"{r['peer_s']:>9.3f}{r['peer_spread_s']:>9.3f}{r['velk_s'] / r['peer_s']:>7.2f}"
                if r["peer_s"] else " " * 25)
        note = ""
        if "velk_mpairs_s" in r:
            note = f"{r['velk_mpairs_s']:.0f} M pairs/s"
        if "speed_up" in r:
            note = f"1 -> 2 threads speed-up {r['speed_up']:.2f}"
        print(f"{r['benchmark']:48}{r['size']:>6}{r['velk_s']:>9.3f}{r['velk_spread_s']:>9.3f}"
              f"{peer}  {note}")
    print("ratio = velk time / peer time (lower is faster for velk); peer of the thread rows is "
          "velk on 1 thread")


if __name__ == "__main__":
    main()
