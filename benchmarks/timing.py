"""The one timer of the benchmarks: the best wall time of a few calls (the machine may be
shared, so the minimum is the least disturbed figure), alone or with the spread of the calls."""

import time


def best_of(fn, repeats=1):
    best = float("inf")
    for _ in range(repeats):
        start = time.perf_counter()
        fn()
        best = min(best, time.perf_counter() - start)
    return best


def best_and_spread(fn, repeats):
    """The best wall time of repeats calls and their spread: slowest / best - 1."""
    times = []
    for _ in range(repeats):
        start = time.perf_counter()
        fn()
        times.append(time.perf_counter() - start)
    return min(times), max(times) / min(times) - 1
