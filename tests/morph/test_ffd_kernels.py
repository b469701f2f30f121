"""The free-form deformation kernel against the plain-Python deformer of test_ffd_exact, which
takes one point at a time in the serial order: point counts on both sides of the vector width,
the lane groups and the chunks, lattices of order 1, 2, 3-4 and 9, inside and outside points
interleaved, and the same bits with 1, 2 and 7 threads and on the baseline (non-AVX2) path."""

import hashlib
import json

import numpy as np
import pytest

import velk
from test_ffd_exact import Reference, hexes, moved_lattice, points_around
from helpers import run_python

COUNTS = [1, 2, 3, 5, 63, 64, 65, 127, 129, 1000, 2001]

# At most one non-zero angle, where the reference's rotation back is exact.
BLOCKS = {
    "order-1": ([2.0, 3.0, 1.5], [0.2, -0.4, 1.0], [0.0, 0.0, 0.0], [1, 1, 1]),
    "order-2": ([1.0, 2.0, 0.5], [0.25, -3.0, 2.0], [0.0, 0.0, 37.5], [2, 2, 2]),
    "order-3x2x4": ([1.5, 1.0, 2.0], [1.0, 2.0, -1.0], [-120.0, 0.0, 0.0], [3, 2, 4]),
    "order-9": ([2.0, 3.0, 1.5], [0.1, -0.2, 0.3], [0.0, 25.0, 0.0], [9, 9, 9]),
}


def mixed_points(ref, seed):
    """2001 points, about half inside, with non-finite points and lattice corners spread through
    them so that inside runs start and stop at every offset within a lane group."""
    pts = points_around(ref, 2001 - 4, seed)
    specials = pts[-4:]
    pts = pts[:-4]
    for at, p in zip([0, 64, 130, 999], [[float("nan"), 0.0, 0.0], specials[0],
                                          [float("inf"), 1.0, 2.0], specials[2]]):
        pts.insert(at, p)
    assert len(pts) == 2001
    return pts


@pytest.fixture(scope="module")
def cases():
    """Per block: the points, the moved lattice and the reference deformation of all points."""
    out = {}
    for name, (length, centre, theta, res) in BLOCKS.items():
        ref = Reference(length, centre, theta, res)
        block = velk.DesignBlock(length, centre, theta, res)
        points = mixed_points(ref, name)
        moved = moved_lattice(block)
        out[name] = (block, points, moved, ref.deform(points, moved))
    return out


def digest(points):
    return hashlib.sha256(",".join(v.hex() for p in points for v in p).encode()).hexdigest()


@pytest.mark.parametrize("name", BLOCKS)
def test_every_count_matches_the_one_point_reference(cases, name):
    block, points, moved, expected = cases[name]
    deformer = velk.FreeFormDeformer(block)
    for n in COUNTS:
        assert hexes(deformer.deform(points[:n], moved)) == hexes(expected[:n]), n
    inside = sum(p != q for p, q in zip(points, expected))
    assert 600 < inside < 1600  # both branches run in every chunk


@pytest.mark.parametrize("name", ["order-2", "order-9"])
def test_array_input_gives_the_same_bits(cases, name):
    block, points, moved, expected = cases[name]
    got = velk.FreeFormDeformer(block).deform(np.array(points, dtype=np.float64), moved)
    assert hexes(got) == hexes(expected)


def test_all_inside_and_all_outside_runs(cases):
    # Long runs of one kind fill whole chunks, or leave them with no point to blend.
    block, points, moved, expected = cases["order-3x2x4"]
    pairs = list(zip(points, expected))
    inside = [pq for pq in pairs if pq[0] != pq[1]]
    outside = [pq for pq in pairs if pq[0] == pq[1]]
    deformer = velk.FreeFormDeformer(block)
    for run in (inside, outside, inside[:300] + outside[:600] + inside[300:]):
        got = deformer.deform([p for p, _ in run], moved)
        assert hexes(got) == hexes([q for _, q in run])


CHILD = """
import hashlib, json, sys, velk
spec = json.load(open(sys.argv[1]))
out = {}
for name, case in spec.items():
    block = velk.DesignBlock(*case["block"])
    points = [[float.fromhex(v) for v in p] for p in case["points"]]
    moved = [[float.fromhex(v) for v in p] for p in case["moved"]]
    deformer = velk.FreeFormDeformer(block)
    out[name] = {str(n): hashlib.sha256(",".join(v.hex() for p in deformer.deform(points[:n], moved)
                                                 for v in p).encode()).hexdigest()
                 for n in spec[name]["counts"]}
print(json.dumps(out))
"""


@pytest.mark.parametrize("threads", ["1", "2", "7"])
@pytest.mark.parametrize("plain", ["0", "1"], ids=["default-path", "baseline-path"])
def test_threads_and_baseline_path_give_the_reference_bits(cases, tmp_path, threads, plain):
    spec = {name: {"block": list(BLOCKS[name]), "points": hexes(points), "moved": hexes(moved),
                   "counts": COUNTS}
            for name, (_, points, moved, _) in cases.items()}
    path = tmp_path / "spec.json"
    path.write_text(json.dumps(spec))
    done = run_python(CHILD, path, RAYON_NUM_THREADS=threads, VELK_PLAIN_KERNELS=plain)
    got = json.loads(done.stdout)
    for name, (_, _, _, expected) in cases.items():
        assert got[name] == {str(n): digest(expected[:n]) for n in COUNTS}, name
