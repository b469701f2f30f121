"""A design-of-experiments sweep of wing morphs on Dask's distributed scheduler.

Each variant lifts and twists the outer part of a design block's lattice by its own amounts,
deforms a NACA 2412 wing with it, writes the result as STL, and measures a section near the
tip: its lift, its twist and its area (which shows how well the morph keeps the aerofoil).
Inputs and outputs cross process boundaries as plain lists and numbers; each task builds its
velk objects itself, so any worker with velk installed can run it.

    python3 examples/design_sweep.py [--variants N] [--out DIR]              # a LocalCluster
    python3 examples/design_sweep.py --scheduler tcp://HOST:8786 --out /shared/sweep
    python3 examples/design_sweep.py --designs my_designs.csv    # your own (lift, twist) table

With --scheduler the tasks run on that cluster's workers and write their STL files there, so
--out must be a folder every worker can reach (a shared file system).
"""

from __future__ import annotations

import argparse
import contextlib
import csv
import math
import pathlib
import sys
import time
from collections.abc import Iterator, Sequence
from typing import Any

from dask.distributed import Client, LocalCluster, as_completed

import velk

SPAN = 4.0  # the wing runs from z = 0 (root) to z = SPAN (tip); the chord is 1 along x
BLOCK_LENGTH = [1.4, 0.6, 4.0]  # the block reaches past leading edge, trailing edge and tip
BLOCK_CENTRE = [0.5, 0.02, 2.5]  # its root face cuts the wing at z = 0.5, so the root stays put
BLOCK_RESOLUTION = [4, 2, 8]
OUTER_FROM = 2.5  # lattice layers from this span position outwards are lifted and twisted
PIVOT = [0.25, 0.0, SPAN]  # the twist turns about the quarter-chord point of the tip
PROBE_Z = 3.9  # the section measured in every variant, just inboard of the tip
LIFT_RANGE = (0.0, 0.6)
TWIST_RANGE = (-6.0, 12.0)  # degrees; positive turns the nose down


def wing_lists(chord_points: int, span_stations: int) -> dict[str, Any]:
    """A NACA 2412 wing with `span_stations` sections, as plain node and cell lists: the strip
    that generate_naca_wing makes is repeated between neighbouring stations."""
    strip = velk.generate_naca_wing(2, 4, 12, chord_points, (0.0, 1.0))
    profile = strip.nodes[0::2]  # even nodes are the root section, in profile order
    count = len(profile)
    nodes = [[x, y, SPAN * s / (span_stations - 1)] for s in range(span_stations) for x, y, _ in profile]
    cells = [[(v // 2) + (s + v % 2) * count for v in cell] for s in range(span_stations - 1) for cell in strip.cells]
    return {"nodes": nodes, "cells": cells}


def halton(index: int, base: int) -> float:
    """Element `index` of the van der Corput sequence in `base`: evenly spread, reproducible."""
    result, fraction = 0.0, 1.0
    while index > 0:
        fraction /= base
        result += fraction * (index % base)
        index //= base
    return result


def designs(count: int) -> list[dict[str, Any]]:
    """`count` (lift, twist) pairs spread over the design space by a two-dimensional Halton set."""
    result = []
    for i in range(count):
        lift = LIFT_RANGE[0] + (LIFT_RANGE[1] - LIFT_RANGE[0]) * halton(i + 1, 2)
        twist = TWIST_RANGE[0] + (TWIST_RANGE[1] - TWIST_RANGE[0]) * halton(i + 1, 3)
        result.append({"variant": i, "lift": lift, "twist": twist})
    return result


def ordered_loop(points: list[list[float]]) -> list[list[float]]:
    """Joins a section's segments (consecutive point pairs) into one chain by matching end points."""
    segments = [(points[i], points[i + 1]) for i in range(0, len(points), 2)]
    chain = list(segments.pop())
    while segments:
        end = chain[-1]
        gaps = [min(math.dist(end, a), math.dist(end, b)) for a, b in segments]
        nearest = gaps.index(min(gaps))
        a, b = segments.pop(nearest)
        chain.append(b if math.dist(end, a) <= math.dist(end, b) else a)
    return chain


def measure_section(points: list[list[float]]) -> dict[str, float]:
    """Lift and twist of the chord line (the two section points farthest apart) and the area."""
    loop = ordered_loop(points)
    ends = max(((p, q) for i, p in enumerate(loop) for q in loop[i + 1:]), key=lambda pq: math.dist(*pq))
    nose, tail = sorted(ends)  # the leading edge has the smaller x
    area = abs(sum(p[0] * q[1] - q[0] * p[1] for p, q in zip(loop, loop[1:] + loop[:1]))) * 0.5
    return {
        "section_lift": (nose[1] + tail[1]) * 0.5,
        "section_twist": math.degrees(math.atan2(tail[1] - nose[1], tail[0] - nose[0])),
        "section_area": area,
    }


def read_designs(path: str) -> list[dict[str, Any]]:
    """A design table with the columns lift and twist (degrees), one variant per row."""
    with open(path, newline="") as stream:
        return [{"variant": i, "lift": float(row["lift"]), "twist": float(row["twist"])}
                for i, row in enumerate(csv.DictReader(stream))]


def run_variant(design: dict[str, Any], wing: dict[str, Any], out: str) -> dict[str, Any]:
    """One task: morph the wing as `design` says, write it as STL, measure it; plain values in and
    out. velk's internal failure (PanicException) derives from BaseException, and Dask's client
    waits for ever on a task exception that does not derive from Exception (its event loop only
    catches Exception), so such a failure is handed on as a RuntimeError carrying its text."""
    try:
        return morph_variant(design, wing, out)
    except (KeyboardInterrupt, SystemExit):
        raise
    except BaseException as error:  # noqa: B036 - see the docstring
        raise RuntimeError(f"variant {design['variant']}: {type(error).__name__}: {error}") from None


def morph_variant(design: dict[str, Any], wing: dict[str, Any], out: str) -> dict[str, Any]:
    start = time.perf_counter()
    mesh = velk.Mesh(wing["nodes"], wing["cells"])
    block = velk.DesignBlock(BLOCK_LENGTH, BLOCK_CENTRE, [0.0, 0.0, 0.0], BLOCK_RESOLUTION)
    free = block.select_free_design_nodes(mesh)  # layers next to the root face are held
    outer = [n for n in free if block.nodes[n][2] >= OUTER_FROM]
    matrix = velk.build_transformation_matrix([0.0, design["lift"], 0.0], [0.0, 0.0, design["twist"]], [1.0, 1.0, 1.0])
    moved = block.transform_subset(outer, matrix, PIVOT)
    morphed = velk.Mesh(velk.FreeFormDeformer(block).deform(mesh.nodes, moved), mesh.cells)
    path = pathlib.Path(out) / f"wing_{design['variant']:04d}.stl"
    morphed.write_stl(str(path))
    figures = measure_section(morphed.slice_from_plane([0.0, 0.0, PROBE_Z], [0.0, 0.0, 1.0]))
    return {**design, **figures, "file": str(path), "seconds": time.perf_counter() - start}


def print_summary(rows: list[dict[str, Any]], shown: int) -> None:
    header = f"{'variant':>7} {'lift':>6} {'twist':>6} {'tip lift':>9} {'tip twist':>9} {'area':>8}  file"
    print(header)
    print("-" * len(header))
    step = max(1, len(rows) // shown)
    for row in rows[::step][:shown]:
        print(f"{row['variant']:>7} {row['lift']:6.3f} {row['twist']:6.2f} {row['section_lift']:9.4f} "
              f"{row['section_twist']:9.3f} {row['section_area']:8.5f}  {pathlib.Path(row['file']).name}")
    areas = [row["section_area"] for row in rows]
    lifts = [row["section_lift"] for row in rows]
    print(f"{len(rows)} variants; tip section lift {min(lifts):.4f} to {max(lifts):.4f}, "
          f"area {min(areas):.5f} to {max(areas):.5f}")


@contextlib.contextmanager
def cluster_client(scheduler: str | None, workers: int) -> Iterator[Client]:
    """A client of the scheduler at `scheduler`, or of a LocalCluster of `workers` processes
    started for it; closed (the cluster too) on leaving."""
    if scheduler:
        with Client(scheduler) as client:
            yield client
        return
    # One velk worker thread per process: the processes already share the cores.
    with LocalCluster(n_workers=workers, threads_per_worker=1, processes=True,
                      dashboard_address=None, env={"RAYON_NUM_THREADS": "1"}) as cluster, \
            Client(cluster) as client:
        yield client


def main(argv: Sequence[str] | None = None) -> None:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--variants", type=int, default=200, help="number of wing variants (default: 200)")
    parser.add_argument("--designs", help="CSV file with columns lift and twist, one variant per row "
                                          "(default: --variants points of a Halton set)")
    parser.add_argument("--out", default="out/sweep", help="output folder (default: out/sweep)")
    parser.add_argument("--scheduler", help="address of a running Dask scheduler (default: start a LocalCluster)")
    parser.add_argument("--workers", type=int, default=2, help="LocalCluster worker processes (default: 2)")
    parser.add_argument("--chord-points", type=int, default=40, help="chord intervals of the section")
    parser.add_argument("--span-stations", type=int, default=17, help="sections from root to tip")
    args = parser.parse_args(argv)
    if args.variants < 1 or args.workers < 1 or args.chord_points < 3 or args.span_stations < 2:
        parser.error("--variants and --workers must be positive, --chord-points at least 3, --span-stations at least 2")
    out = pathlib.Path(args.out).resolve()
    out.mkdir(parents=True, exist_ok=True)
    start = time.perf_counter()

    with cluster_client(args.scheduler, args.workers) as client:
        started = time.perf_counter()
        wing = client.scatter(wing_lists(args.chord_points, args.span_stations), broadcast=True)
        plan = read_designs(args.designs) if args.designs else designs(args.variants)
        futures = client.map(run_variant, plan, wing=wing, out=str(out), pure=False)
        # Results as they arrive: a failed variant is reported, the others still count.
        rows: list[dict[str, Any]] = []
        failures: list[str] = []
        for future in as_completed(futures):
            if future.status == "error":
                failures.append(str(future.exception()))
            else:
                rows.append(future.result())
        rows.sort(key=lambda row: row["variant"])
        sweep_seconds = time.perf_counter() - started

    for failure in sorted(failures):
        print(f"failed: {failure}", file=sys.stderr)
    if not rows:
        sys.exit(f"all {len(failures)} variants failed")
    table = out / "sweep.csv"
    with table.open("w", newline="") as stream:
        writer = csv.DictWriter(stream, fieldnames=list(rows[0]))
        writer.writeheader()
        writer.writerows(rows)
    print_summary(rows, 10)
    task_seconds = sum(row["seconds"] for row in rows)
    print(f"wrote {len(rows)} STL files wing_0000.stl ... into {out}")
    print(f"wrote {table}  (one row per variant)")
    where = f"the cluster at {args.scheduler}" if args.scheduler else f"{args.workers} local workers"
    print(f"sweep {sweep_seconds:.1f} s on {where} ({task_seconds / len(rows) * 1000:.0f} ms per task); total {time.perf_counter() - start:.1f} s")
    if failures:
        sys.exit(f"{len(failures)} of {len(failures) + len(rows)} variants failed")


if __name__ == "__main__":
    main()
