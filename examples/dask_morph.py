"""Morph a very large point set on Dask: fit once, ship the morph to every worker, morph chunks.

A NACA 2412 wing is bent and twisted; its surface nodes (with their displacements) and the
nodes of a far-field box (held still) drive a velk_morph.IdwMorph (--morph idw, the default) or
a reduced velk_morph.RbfMorph (--morph rbf: thin plate spline with a linear term, centres
selected to a tolerance of 1e-4, every control exact), fitted once in this process.
The fitted morph is scattered to every worker (it pickles), and a point set of --nodes nodes
filling the box is morphed chunk by chunk with dask.array.map_blocks. The chunks are written
into one .npy file as they arrive, and the file is compared with a single-process run of the
same morph: the bits are the same. A task that fails (a chunk with NaN, say) raises its
exception here, in the caller, as itself.

    python3 examples/dask_morph.py [--nodes N] [--out DIR]              # a LocalCluster
    python3 examples/dask_morph.py --nodes 10000000                     # ten million nodes
    python3 examples/dask_morph.py --scheduler tcp://HOST:8786 --nodes 10000000
"""

from __future__ import annotations

import argparse
import pathlib
import sys
import time
from collections.abc import Sequence

import dask.array as da
import numpy as np
from dask.distributed import Client, as_completed

import velk_morph

sys.path.insert(0, str(pathlib.Path(__file__).resolve().parent))
from design_sweep import SPAN, cluster_client, wing_lists  # noqa: E402  (the sweep's wing and cluster)

BOX_LOW = np.array([-2.0, -2.0, -1.0])  # the far field: about two chords around the wing
BOX_HIGH = np.array([3.0, 2.0, SPAN + 2.0])
LIFT = 0.3  # the tip rises this much, growing with the square of the span position
TWIST_DEGREES = 6.0  # the tip turns nose down by this much about the quarter chord


def wing_motion(nodes: np.ndarray) -> np.ndarray:
    """The displacement of the wing's nodes: a bend (lift growing as (z / SPAN)^2) and a twist
    about the quarter-chord line growing linearly to the tip."""
    s = nodes[:, 2] / SPAN
    angle = -np.radians(TWIST_DEGREES) * s
    x, y = nodes[:, 0] - 0.25, nodes[:, 1]
    moved = np.empty_like(nodes)
    moved[:, 0] = 0.25 + x * np.cos(angle) - y * np.sin(angle)
    moved[:, 1] = x * np.sin(angle) + y * np.cos(angle) + LIFT * s**2
    moved[:, 2] = nodes[:, 2]
    return moved - nodes


def box_nodes(per_edge: int) -> np.ndarray:
    """The nodes on the surface of the far-field box, per_edge along each edge."""
    axes = [np.linspace(lo, hi, per_edge) for lo, hi in zip(BOX_LOW, BOX_HIGH)]
    grid = np.stack(np.meshgrid(*axes, indexing="ij"), axis=-1).reshape(-1, 3)
    on_face = np.any((grid == BOX_LOW) | (grid == BOX_HIGH), axis=1)
    return grid[on_face]


def fit(chord_points: int, span_stations: int,
        kind: str = "idw") -> velk_morph.IdwMorph | velk_morph.RbfMorph:
    wing = np.array(wing_lists(chord_points, span_stations)["nodes"])
    wing = np.unique(wing, axis=0)  # the trailing edge closes on itself
    box = box_nodes(9)
    controls = np.vstack([wing, box])
    moves = np.vstack([wing_motion(wing), np.zeros_like(box)])
    if kind == "rbf":
        return velk_morph.RbfMorph(controls, moves, kernel="thin_plate_spline", degree=1,
                                   tolerance=1e-4)
    return velk_morph.IdwMorph(controls, moves, power=3.0)


def grid_points(index: np.ndarray, nodes: int) -> np.ndarray:
    """Nodes number `index` of a structured grid over the box with about nodes^(1/3) nodes per
    edge, filled layer by layer in z (the same numbers however the indices are chunked)."""
    side = int(np.ceil(nodes ** (1 / 3)))
    i, j, k = index % side, (index // side) % side, index // (side * side)
    ijk = np.stack([i, j, k], axis=1).astype(np.float64) / max(side - 1, 1)
    return BOX_LOW + ijk * (BOX_HIGH - BOX_LOW)


def deform_block(block: np.ndarray, morph: velk_morph.IdwMorph | velk_morph.RbfMorph) -> np.ndarray:
    return morph.deform(block)


def morph_on_cluster(client: Client, morph: velk_morph.IdwMorph | velk_morph.RbfMorph, points: da.Array,
                     target: np.ndarray) -> None:
    """Morphs the (N, 3) dask array `points` on the client's workers into `target` (an (N, 3)
    array or memory map), chunk by chunk as they complete. A failed task's exception is raised
    here as itself."""
    shipped = client.scatter(morph, broadcast=True)
    moved = da.map_blocks(deform_block, points, shipped, dtype=np.float64)
    starts = np.concatenate([[0], np.cumsum(moved.chunks[0])])
    futures = client.compute(list(moved.to_delayed().ravel()))
    where = {future.key: starts[n] for n, future in enumerate(futures)}
    for future, block in as_completed(futures, with_results=True):
        start = where[future.key]
        target[start:start + len(block)] = block


def main(argv: Sequence[str] | None = None) -> None:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--nodes", type=int, default=1_000_000, help="points to morph (default: 10^6)")
    parser.add_argument("--chunk", type=int, default=250_000, help="points per task (default: 250000)")
    parser.add_argument("--out", default="out/dask_morph", help="output folder (default: out/dask_morph)")
    parser.add_argument("--scheduler", help="address of a running Dask scheduler (default: a LocalCluster)")
    parser.add_argument("--workers", type=int, default=2, help="LocalCluster worker processes (default: 2)")
    parser.add_argument("--chord-points", type=int, default=40, help="chord intervals of the wing section")
    parser.add_argument("--span-stations", type=int, default=9, help="wing sections from root to tip")
    parser.add_argument("--morph", choices=["idw", "rbf"], default="idw",
                        help="IdwMorph or a reduced RbfMorph (default: idw)")
    parser.add_argument("--no-check", action="store_true", help="skip the single-process comparison")
    args = parser.parse_args(argv)
    if args.nodes < 1 or args.chunk < 1 or args.workers < 1 or args.chord_points < 3 or args.span_stations < 2:
        parser.error("--nodes, --chunk and --workers must be positive, --chord-points at least 3, "
                     "--span-stations at least 2")
    out = pathlib.Path(args.out).resolve()
    out.mkdir(parents=True, exist_ok=True)

    started = time.perf_counter()
    morph = fit(args.chord_points, args.span_stations, args.morph)
    print(f"fitted {type(morph).__name__} with {morph.n_controls} controls in "
          f"{time.perf_counter() - started:.2f} s")
    index = da.arange(args.nodes, chunks=args.chunk)
    points = index.map_blocks(grid_points, args.nodes, new_axis=1, chunks=(index.chunks[0], (3,)),
                              dtype=np.float64)
    path = out / "morphed.npy"
    target = np.lib.format.open_memmap(path, mode="w+", dtype=np.float64, shape=(args.nodes, 3))

    with cluster_client(args.scheduler, args.workers) as client:
        started = time.perf_counter()
        morph_on_cluster(client, morph, points, target)
        target.flush()
        seconds = time.perf_counter() - started
    where = f"the cluster at {args.scheduler}" if args.scheduler else f"{args.workers} local workers"
    print(f"morphed {args.nodes} nodes in {seconds:.1f} s on {where}")
    print(f"wrote {path}  ({args.nodes} morphed nodes, float64)")

    if not args.no_check:
        started = time.perf_counter()
        single = morph.deform(grid_points(np.arange(args.nodes), args.nodes))
        seconds = time.perf_counter() - started
        same = np.array_equal(np.load(path, mmap_mode="r"), single)
        print(f"single process: {seconds:.1f} s; the bits {'are the same' if same else 'DIFFER'}")
        if not same:
            sys.exit(1)


if __name__ == "__main__":
    main()
