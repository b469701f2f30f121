"""Derivatives of velk_morph's morphs against the morphs themselves.

Ffd.jvp and Ffd.vjp on 1,000,000 points inside a design block of resolution (4, 4, 4) and
(9, 9, 9), each against Ffd.deform of the same points (the "peer" column: a product should cost
about one deformation); the sparse Jacobian of 100,000 points over 64 lattice nodes (no peer);
and, when velk_morph has RbfMorph with products, RbfMorph.vjp against displacement at 2,000
controls and 100,000 points. Calls alternate, so both see the same state of a shared machine;
best of 5, with the slowest of the 5 as the spread. Run as a script to print the table.
"""

import sys

import numpy as np
from bench_ffd import rotation
from timing import wall_times

POINTS = 1_000_000
RESOLUTIONS = [(4, 4, 4), (9, 9, 9)]
LENGTH, CENTRE, THETA = [2.0, 3.0, 1.5], [0.1, -0.2, 0.3], [0.0, 0.0, 25.0]
REPEATS = 5


def ffd_problem(res, points):
    import velk
    import velk_morph

    rng = np.random.default_rng(2024)
    ffd = velk_morph.Ffd(velk.DesignBlock(LENGTH, CENTRE, THETA, list(res)))
    moved = ffd.nodes + rng.normal(scale=0.05, size=ffd.nodes.shape)
    local = rng.uniform(0.001, 0.999, size=(points, 3))
    inside = np.asarray(CENTRE) + ((local - 0.5) * np.asarray(LENGTH)) @ rotation(THETA).T
    return ffd, moved, inside, rng


def alternating(first, second):
    """Wall times of REPEATS calls of each, alternating."""
    a, b = [], []
    for _ in range(REPEATS):
        a += wall_times(first, 1)
        b += wall_times(second, 1)
    return a, b


def row(name, size, velk_s, peer=None, peer_s=None):
    out = {"benchmark": name, "size": size, "velk_s": min(velk_s), "velk_spread_s": max(velk_s),
           "peer": peer, "peer_s": None, "peer_spread_s": None}
    if peer_s is not None:
        out.update(peer_s=min(peer_s), peer_spread_s=max(peer_s))
    return out


def ffd_rows():
    rows = []
    for res in RESOLUTIONS:
        ffd, moved, points, rng = ffd_problem(res, POINTS)
        tangent = rng.normal(size=moved.shape)
        cotangent = rng.normal(size=points.shape)
        deform = lambda: ffd.deform(points, moved)  # noqa: E731
        jvp_s, deform_s = alternating(lambda: ffd.jvp(points, tangent), deform)
        rows.append(row(f"Ffd.jvp {res}", POINTS, jvp_s, "Ffd.deform", deform_s))
        vjp_s, deform_s = alternating(lambda: ffd.vjp(points, cotangent), deform)
        rows.append(row(f"Ffd.vjp {res}", POINTS, vjp_s, "Ffd.deform", deform_s))
    ffd, _, points, _ = ffd_problem((3, 3, 3), 100_000)
    jacobian_s = wall_times(lambda: ffd.jacobian(points), REPEATS)
    rows.append(row("Ffd.jacobian (3, 3, 3): 64 nodes", 100_000, jacobian_s))
    return rows


def rbf_rows():
    import velk_morph

    morph_class = getattr(velk_morph, "RbfMorph", None)
    if morph_class is None or not hasattr(morph_class, "vjp"):
        print("velk_morph.RbfMorph.vjp not built: its row is skipped", file=sys.stderr)
        return []
    rng = np.random.default_rng(7)
    controls = rng.uniform(-1, 1, size=(2000, 3))
    displacements = 0.05 * np.sin(controls)
    points = rng.uniform(-1, 1, size=(100_000, 3))
    cotangent = rng.normal(size=points.shape)
    morph = morph_class(controls, displacements)
    vjp_s, displacement_s = alternating(lambda: morph.vjp(points, cotangent),
                                        lambda: morph.displacement(points))
    return [row("RbfMorph.vjp, 2000 controls", 100_000, vjp_s, "RbfMorph.displacement",
                displacement_s)]


def run():
    return ffd_rows() + rbf_rows()


def main():
    rows = run()
    print(f"{'benchmark':36} {'size':>8} {'s':>8} {'(worst)':>8} {'baseline':22} {'s':>8} "
          f"{'(worst)':>8} {'ratio':>6}")
    for r in rows:
        peer = r["peer"] or "-"
        if r["peer_s"] is None:
            print(f"{r['benchmark']:36} {r['size']:>8} {r['velk_s']:>8.4f} "
                  f"{r['velk_spread_s']:>8.4f} {peer:22}")
            continue
        print(f"{r['benchmark']:36} {r['size']:>8} {r['velk_s']:>8.4f} {r['velk_spread_s']:>8.4f} "
              f"{peer:22} {r['peer_s']:>8.4f} {r['peer_spread_s']:>8.4f} "
              f"{r['velk_s'] / r['peer_s']:>6.3f}")


if __name__ == "__main__":
    main()
