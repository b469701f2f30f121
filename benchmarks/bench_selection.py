"""Times the six node selections of velk against the equivalent numpy expressions.

Each selection is timed twice from the same input: a float64 array of shape (n, 3), given to
velk and to the numpy expression; and a Python list of [x, y, z] lists, which velk converts
itself and numpy first turns into an array. Every velk time includes converting the input
and building the result list.
Run as a script to print the table; run() returns the rows.
"""
import math
import random
import sys

import numpy as np

import velk
from timing import best_and_worst

EPS = 2.220446049250313e-16
SIZES = (100_000, 1_000_000)
REPEATS = 3


def cases():
    point = np.array([0.1, 0.2, 0.3])
    pa, pb = np.array([-0.5, 0.0, 0.0]), np.array([0.5, 0.0, 0.0])
    centre, length, theta = np.array([0.0, 0.1, -0.1]), np.array([0.8, 0.6, 1.0]), [20, 30, 40]
    origin, normal = np.array([0.0, 0.0, 0.25]), np.array([0.2, -0.3, 1.0])
    back = np.array(velk.build_transformation_matrix([0, 0, 0], theta, [1, 1, 1]))[:3, :3].T

    def squared(d):
        return (d[:, 0] * d[:, 0] + d[:, 1] * d[:, 1]) + d[:, 2] * d[:, 2]

    def closest_to_point(a):
        q = squared(a - point)
        return np.flatnonzero(np.abs(q - q.min()) <= EPS)

    def on_line(a):
        full = math.dist(pa, pb)
        da, db = np.sqrt(squared(a - pa)), np.sqrt(squared(a - pb))
        return np.flatnonzero((full >= db) & (full >= da) & (np.abs((da + db) - full) <= EPS))

    def in_sphere(a):
        return np.flatnonzero(0.7 * 0.7 >= squared(a - centre))

    def in_box(a):
        local = (a - centre) @ back.T + centre
        return np.flatnonzero(np.all((centre - length * 0.5 <= local) &
                                     (local <= centre + length * 0.5), axis=1))

    def plane_values(a):
        return ((a[:, 0] * normal[0] + a[:, 1] * normal[1]) + a[:, 2] * normal[2]) - (
            (origin[0] * normal[0] + origin[1] * normal[1]) + origin[2] * normal[2])

    def closest_to_plane(a):
        h = np.abs(plane_values(a))
        return np.flatnonzero(np.abs(h - h.min()) < EPS)

    def in_plane_direction(a):
        return np.flatnonzero(plane_values(a) >= 0)

    velk_calls = {
        "select_nodes_closest_to_point": lambda n: velk.select_nodes_closest_to_point(n, point.tolist()),
        "select_nodes_on_line": lambda n: velk.select_nodes_on_line(n, pa.tolist(), pb.tolist()),
        "select_nodes_in_sphere": lambda n: velk.select_nodes_in_sphere(n, 0.7, centre.tolist()),
        "select_nodes_in_box": lambda n: velk.select_nodes_in_box(n, length.tolist(), centre.tolist(), theta),
        "select_nodes_closest_to_plane": lambda n: velk.select_nodes_closest_to_plane(n, origin.tolist(), normal.tolist()),
        "select_nodes_in_plane_direction": lambda n: velk.select_nodes_in_plane_direction(n, origin.tolist(), normal.tolist()),
    }
    numpy_calls = {
        "select_nodes_closest_to_point": closest_to_point,
        "select_nodes_on_line": on_line,
        "select_nodes_in_sphere": in_sphere,
        "select_nodes_in_box": in_box,
        "select_nodes_closest_to_plane": closest_to_plane,
        "select_nodes_in_plane_direction": in_plane_direction,
    }
    return velk_calls, numpy_calls


def run():
    rows = []
    rng = random.Random(1)
    for size in SIZES:
        nodes = [[rng.uniform(-1, 1), rng.uniform(-1, 1), rng.uniform(-1, 1)] for _ in range(size)]
        array = np.array(nodes)
        velk_calls, numpy_calls = cases()
        for name, call in velk_calls.items():
            expected = numpy_calls[name](array).tolist()
            if call(nodes) != expected or call(array) != expected:
                raise AssertionError(f"{name}: velk and numpy disagree at size {size}")
            for label, data, peer, peer_fn in (
                    ("array input", array, "numpy", lambda: numpy_calls[name](array)),
                    ("list input", nodes, "numpy incl. asarray",
                     lambda: numpy_calls[name](np.asarray(nodes)))):
                velk_s, velk_worst = best_and_worst(lambda: call(data), REPEATS)
                peer_s, peer_worst = best_and_worst(peer_fn, REPEATS)
                rows.append({"benchmark": f"{name} ({label})", "size": size, "velk_s": velk_s,
                             "velk_spread_s": velk_worst, "peer": peer, "peer_s": peer_s,
                             "peer_spread_s": peer_worst})
    return rows


def main():
    rows = run()
    print(f"{'benchmark':46} {'size':>9} {'velk s':>9} {'peer':>24} {'peer s':>9} {'ratio':>7}")
    for r in rows:
        print(f"{r['benchmark']:46} {r['size']:>9} {r['velk_s']:>9.4f} {r['peer']:>24} "
              f"{r['peer_s']:>9.4f} {r['velk_s'] / r['peer_s']:>7.2f}")
    return 0


if __name__ == "__main__":
    sys.exit(main())
