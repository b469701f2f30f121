"""The one timer of the benchmarks: the wall times of a few calls, and their best (the machine
may be shared, so the minimum is the least disturbed figure), alone or with the spread."""

import time


def wall_times(fn, repeats):
    """The wall time of each of repeats calls of fn."""
    out = []
    for _ in range(repeats):
        start = time.perf_counter()
        fn()
        out.append(time.perf_counter() - start)
    return out


def held_times(fn, repeats):
    """The wall time of each of repeats calls of fn with its result held until the clock is
    read, and of each call together with dropping its result afterwards."""
    calls, with_drop = [], []
    for _ in range(repeats):
        start = time.perf_counter()
        result = fn()
        called = time.perf_counter()
        del result
        calls.append(called - start)
        with_drop.append(time.perf_counter() - start)
    return calls, with_drop


def best_of(fn, repeats=1):
    return min(wall_times(fn, repeats))


def best_and_spread(fn, repeats):
    """The best wall time of repeats calls and their spread: slowest / best - 1."""
    times = wall_times(fn, repeats)
    return min(times), max(times) / min(times) - 1


def best_and_worst(fn, repeats):
    """The best and the worst wall time of repeats calls."""
    times = wall_times(fn, repeats)
    return min(times), max(times)


def optional_morph_module():
    """velk_morph, or None in an installation without it (its benchmarks then time nothing)."""
    try:
        import velk_morph
    except ImportError:
        return None
    return velk_morph
