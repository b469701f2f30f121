"""velk_morph.IdwMorph against a chunked numpy evaluation of the same formula: 10^4 control
points, 10^6 query points, power 3 (s(x) = sum w_i d_i / sum w_i, w_i = |x - c_i|^-3).

numpy computes the squared distances of a chunk of 256 points to every control, the weights as
1 / (r2 * sqrt(r2)) (the cheapest numpy form of |x - c|^-3), and the two weighted sums with one
matrix product; it runs at the same few million pairs per second whatever the number of points,
so it is timed on the first 10^4 points and its time scaled to 10^6 (a full numpy run would take
about half an hour here). IdwMorph is timed on all 10^6 points. Every figure is the best of 3
calls with the slowest as its spread. Run as a script to print a table; run() returns the rows
for a combined report."""

import sys

import numpy as np
from timing import best_and_worst, optional_morph_module

velk_morph = optional_morph_module()

REPEATS = 3
CONTROLS = 10_000
POINTS = 1_000_000
NUMPY_POINTS = 10_000
CHUNK = 256


def problem():
    rng = np.random.default_rng(0)
    controls = rng.uniform(-1, 1, size=(CONTROLS, 3))
    moves = 0.1 * np.sin(3 * controls[:, [1, 2, 0]])
    points = rng.uniform(-1.5, 1.5, size=(POINTS, 3))
    return controls, moves, points


def numpy_idw(points, controls, moves):
    out = np.empty_like(points)
    for start in range(0, len(points), CHUNK):
        chunk = points[start:start + CHUNK]
        r2 = ((chunk[:, None, :] - controls[None, :, :]) ** 2).sum(axis=2)
        w = 1.0 / (r2 * np.sqrt(r2))
        out[start:start + CHUNK] = (w @ moves) / w.sum(axis=1)[:, None]
    return out



def run():
    if velk_morph is None:
        return []
    controls, moves, points = problem()
    morph = velk_morph.IdwMorph(controls, moves, power=3.0)
    velk = best_and_worst(lambda: morph.displacement(points), REPEATS)
    subset = points[:NUMPY_POINTS]
    scale = POINTS / NUMPY_POINTS
    peer = [t * scale for t in best_and_worst(lambda: numpy_idw(subset, controls, moves), REPEATS)]
    # The two agree (numpy's sums in another order): a check that the same thing is timed.
    assert np.abs(morph.displacement(subset) - numpy_idw(subset, controls, moves)).max() < 1e-12
    return [{"benchmark": "IdwMorph.displacement, power 3", "size": f"{CONTROLS} x {POINTS}",
             "velk_s": velk[0], "velk_spread_s": velk[1],
             "peer": "numpy chunked (1e4 pts x 100)", "peer_s": peer[0], "peer_spread_s": peer[1],
             "pairs_per_s": CONTROLS * POINTS / velk[0]}]


if __name__ == "__main__":
    for r in run():
        print(f"{r['benchmark']}  {r['size']}: velk {r['velk_s']:.2f} s (worst {r['velk_spread_s']:.2f}), "
              f"{r['peer']} {r['peer_s']:.1f} s (worst {r['peer_spread_s']:.1f}), "
              f"ratio {r['velk_s'] / r['peer_s']:.4f}, {r['pairs_per_s'] / 1e6:.0f} M pairs/s",
              file=sys.stdout)
