"""Bit-exact reference for generate_icosphere: the icosahedron split level by level with the
midpoints kept in a dictionary keyed on the edge, numbered by first use (cell order, edges p-q,
q-r, r-p), then every node projected onto the sphere, in plain Python floats. velk's nodes and
cells must be these exactly, at every level, whatever the thread count and code path."""

import hashlib
import json
import math

import pytest

import velk
from helpers import run_python

T = 1.618033988749895
EPS = 2.220446049250313e-16
BASE_NODES = [(-1, T, 0), (1, T, 0), (-1, -T, 0), (1, -T, 0), (0, -1, T), (0, 1, T),
              (0, -1, -T), (0, 1, -T), (T, 0, -1), (T, 0, 1), (-T, 0, -1), (-T, 0, 1)]
BASE_CELLS = [(0, 11, 5), (0, 5, 1), (0, 1, 7), (0, 7, 10), (0, 10, 11), (1, 5, 9), (5, 11, 4),
              (11, 10, 2), (10, 7, 6), (7, 1, 8), (3, 9, 4), (3, 4, 2), (3, 2, 6), (3, 6, 8),
              (3, 8, 9), (4, 9, 5), (2, 4, 11), (6, 2, 10), (8, 6, 7), (9, 8, 1)]


def icosphere(radius, centre, subdivisions):
    nodes = [[float(v) for v in p] for p in BASE_NODES]
    cells = list(BASE_CELLS)
    midpoints = {}

    def midpoint(p, q):
        key = (min(p, q), max(p, q))
        if key not in midpoints:
            a, b = nodes[key[0]], nodes[key[1]]
            nodes.append([(a[k] + b[k]) * 0.5 for k in range(3)])
            midpoints[key] = len(nodes) - 1
        return midpoints[key]

    for _ in range(subdivisions):
        split = []
        for p, q, r in cells:
            pq = midpoint(p, q)
            qr = midpoint(q, r)
            rp = midpoint(r, p)
            split += [(p, pq, rp), (q, qr, pq), (r, rp, qr), (pq, qr, rp)]
        cells = split

    def project(p):
        norm = math.sqrt((p[0] * p[0] + p[1] * p[1]) + p[2] * p[2])
        d = norm if norm > EPS else EPS
        return [p[k] / d * radius + centre[k] for k in range(3)]

    return [project(p) for p in nodes], [list(c) for c in cells]


def digest(nodes, cells):
    text = ",".join(v.hex() for p in nodes for v in p) + ";" + ",".join(str(i) for c in cells for i in c)
    return hashlib.sha256(text.encode()).hexdigest()


SPHERES = [(1.0, (0.0, 0.0, 0.0)), (2.5, (0.25, -1.0, 3.0)), (1e-3, (-7.0, 1e6, 0.5))]


@pytest.mark.parametrize("subdivisions", range(6))
@pytest.mark.parametrize("radius, centre", SPHERES, ids=["unit", "moved", "tiny-far"])
def test_nodes_and_cells_are_the_reference_bits(radius, centre, subdivisions):
    nodes, cells = icosphere(radius, centre, subdivisions)
    mesh = velk.generate_icosphere(radius, centre, subdivisions)
    assert mesh.cells == cells
    assert [[v.hex() for v in p] for p in mesh.nodes] == [[v.hex() for v in p] for p in nodes]


CHILD = """
import hashlib, sys, velk
m = velk.generate_icosphere(float(sys.argv[1]), (0.25, -1.0, 3.0), int(sys.argv[2]))
text = ",".join(v.hex() for p in m.nodes for v in p) + ";" + ",".join(str(i) for c in m.cells for i in c)
print(hashlib.sha256(text.encode()).hexdigest())
"""


@pytest.fixture(scope="module")
def level_six():
    # 40962 nodes: enough for the projection to be split over the worker pool.
    return digest(*icosphere(2.5, (0.25, -1.0, 3.0), 6))


@pytest.mark.parametrize("threads", ["1", "2", "7"])
@pytest.mark.parametrize("plain", ["0", "1"], ids=["default-path", "baseline-path"])
def test_threads_and_baseline_path_give_the_reference_bits(level_six, threads, plain):
    done = run_python(CHILD, "2.5", "6", RAYON_NUM_THREADS=threads, VELK_PLAIN_KERNELS=plain)
    assert done.stdout.strip() == level_six
