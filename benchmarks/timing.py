"""The one timer of the benchmarks: the best wall time of a few calls (the machine may be
shared, so the minimum is the least disturbed figure)."""

import time


def best_of(fn, repeats=1):
    best = float("inf")
    for _ in range(repeats):
        start = time.perf_counter()
        fn()
        best = min(best, time.perf_counter() - start)
    return best
