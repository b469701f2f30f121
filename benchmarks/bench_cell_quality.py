"""velk_morph.inverted_cells on 10^6 tetrahedra against a vectorised numpy signed volume of the
same cells before and after (gather the corners, cross and dot products, compare signs). The mesh
is a structured grid of cubes split into six tetrahedra each, moved by a smooth field. Best of 5
calls with the slowest as the spread. Run as a script to print a table; run() returns the rows
for a combined report."""

import sys

import numpy as np
from timing import best_and_worst, optional_morph_module

velk_morph = optional_morph_module()

REPEATS = 5
CUBES = 56  # 56^3 cubes x 6 tetrahedra: about 1.05 million cells


def grid_tets(n):
    ids = np.arange((n + 1) ** 3).reshape(n + 1, n + 1, n + 1)
    corner = [ids[i:n + i, j:n + j, k:n + k].ravel() for i in (0, 1) for j in (0, 1) for k in (0, 1)]
    # The six tetrahedra of a cube around its main diagonal (corner 0 to corner 7).
    split = [(0, 1, 3, 7), (0, 3, 2, 7), (0, 2, 6, 7), (0, 6, 4, 7), (0, 4, 5, 7), (0, 5, 1, 7)]
    tets = np.concatenate([np.column_stack([corner[a] for a in t]) for t in split])
    axis = np.linspace(0.0, 1.0, n + 1)
    points = np.stack(np.meshgrid(axis, axis, axis, indexing="ij"), axis=-1).reshape(-1, 3)
    return points, tets.astype(np.int64)


def numpy_inverted(before, after, tets):
    def volumes(p):
        a, b, c, d = (p[tets[:, i]] for i in range(4))
        return np.einsum("ij,ij->i", b - a, np.cross(c - a, d - a))
    v0, v1 = volumes(before), volumes(after)
    return np.flatnonzero((v1 == 0) | ((v0 > 0) & (v1 < 0)) | ((v0 < 0) & (v1 > 0)))



def run():
    if velk_morph is None:
        return []
    before, tets = grid_tets(CUBES)
    after = before + 0.02 * np.sin(7 * before[:, [1, 2, 0]])
    assert np.array_equal(velk_morph.inverted_cells(before, after, tets),
                          numpy_inverted(before, after, tets))
    velk = best_and_worst(lambda: velk_morph.inverted_cells(before, after, tets), REPEATS)
    peer = best_and_worst(lambda: numpy_inverted(before, after, tets), REPEATS)
    return [{"benchmark": "inverted_cells, tetrahedra", "size": f"{len(tets)} cells",
             "velk_s": velk[0], "velk_spread_s": velk[1], "peer": "numpy signed volumes",
             "peer_s": peer[0], "peer_spread_s": peer[1]}]


if __name__ == "__main__":
    for r in run():
        print(f"{r['benchmark']}  {r['size']}: velk {r['velk_s']:.4f} s (worst {r['velk_spread_s']:.4f}), "
              f"{r['peer']} {r['peer_s']:.4f} s (worst {r['peer_spread_s']:.4f}), "
              f"ratio {r['velk_s'] / r['peer_s']:.3f}", file=sys.stdout)
