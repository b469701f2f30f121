"""Sphere generation: velk's icosphere and UV sphere against trimesh.creation, timed in the same
run. Prints a table of sizes, times and ratios (velk time / peer time).

Run: python benchmarks/bench_primitives.py
"""


import velk
from timing import best_of


def run(repeats=5):
    """One row per case: dict with benchmark, size, velk_s, peer, peer_s (peer and peer_s are
    None when trimesh is not installed)."""
    try:
        import trimesh
    except ImportError:
        trimesh = None

    cases = [
        (
            "icosphere",
            "7 subdivisions (163842 nodes)",
            lambda: velk.generate_icosphere(1.0, (0.0, 0.0, 0.0), 7),
            trimesh and (lambda: trimesh.creation.icosphere(subdivisions=7, radius=1.0)),
        ),
        (
            "uvsphere",
            "1000 x 1000 (999002 nodes)",
            lambda: velk.generate_uvsphere(1.0, (0.0, 0.0, 0.0), 1000, 1000),
            trimesh and (lambda: trimesh.creation.uv_sphere(radius=1.0, count=[1000, 1000])),
        ),
    ]
    rows = []
    for name, size, ours, peer in cases:
        ours()  # warm up
        row = {"benchmark": name, "size": size, "velk_s": best_of(ours, repeats)}
        if peer:
            peer()
            row.update(peer="trimesh.creation", peer_s=best_of(peer, repeats))
        else:
            row.update(peer=None, peer_s=None)
        rows.append(row)
    return rows


def main():
    rows = run()
    print(f"{'benchmark':<10} {'size':<32} {'velk s':>9} {'trimesh s':>10} {'ratio':>7}")
    for r in rows:
        peer = f"{r['peer_s']:>10.4f}" if r["peer_s"] else f"{'-':>10}"
        ratio = f"{r['velk_s'] / r['peer_s']:>7.3f}" if r["peer_s"] else f"{'-':>7}"
        print(f"{r['benchmark']:<10} {r['size']:<32} {r['velk_s']:>9.4f} {peer} {ratio}")


if __name__ == "__main__":
    main()
