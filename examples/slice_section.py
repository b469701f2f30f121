"""Slices an STL mesh with a plane and plots the section.

With no file given it first writes a NACA 2412 wing as STL and slices that, so the section is
an aerofoil. The plane passes through --origin (default: the centre of the mesh's bounding
box) with normal --normal (default: the z axis). The section's segments are joined into closed
loops, their area is printed, and a picture goes into the output folder.

    python3 examples/slice_section.py [MESH.stl] [--origin X Y Z] [--normal X Y Z] [--out DIR]
"""

from __future__ import annotations

import argparse
import math
import pathlib
import sys
from collections.abc import Sequence

import matplotlib

matplotlib.use("Agg")  # render to a file; no screen needed
import matplotlib.pyplot as plt  # noqa: E402
from matplotlib.collections import LineCollection  # noqa: E402
from matplotlib.patches import PathPatch  # noqa: E402
from matplotlib.path import Path  # noqa: E402
from mpl_toolkits.mplot3d.axes3d import Axes3D  # noqa: E402

import velk  # noqa: E402

Point = list[float]


def dot(a: Sequence[float], b: Sequence[float]) -> float:
    return (a[0] * b[0] + a[1] * b[1]) + a[2] * b[2]


def cross(a: Sequence[float], b: Sequence[float]) -> Point:
    return [a[1] * b[2] - a[2] * b[1], a[2] * b[0] - a[0] * b[2], a[0] * b[1] - a[1] * b[0]]


def unit(a: Sequence[float]) -> Point:
    length = math.sqrt(dot(a, a))
    return [c / length for c in a]


def section(mesh: velk.Mesh, origin: Point, normal: Point) -> list[Point] | None:
    """The slice's segment end points, or None when the plane cuts no cell (slice_from_plane
    then fails internally: its PanicException derives from BaseException)."""
    try:
        return mesh.slice_from_plane(origin, normal)
    except (KeyboardInterrupt, SystemExit):
        raise
    except BaseException:  # noqa: B036 - velk's PanicException: nothing cut
        return None


def plane_axes(normal: Point) -> tuple[Point, Point]:
    """Two orthonormal directions in the plane: the x axis projected onto it (or the y axis when
    the normal is nearly x), and the normal crossed with that."""
    n = unit(normal)
    seed = [1.0, 0.0, 0.0] if abs(n[0]) < 0.9 else [0.0, 1.0, 0.0]
    u = unit([s - dot(seed, n) * c for s, c in zip(seed, n)])
    return u, cross(n, u)


def join_loops(points: list[Point], tolerance: float) -> list[list[Point]]:
    """Joins the section's segments (consecutive point pairs) into chains by matching end
    points; a chain whose ends meet is a closed loop. A plane through a ring of nodes meets a
    cell touching the ring at one corner in a zero-length segment, which is dropped, and the two
    cells on either side of a ring edge in the same segment, which is kept once."""
    segments: list[tuple[Point, Point]] = []
    for i in range(0, len(points), 2):
        a, b = points[i], points[i + 1]
        if math.dist(a, b) <= tolerance:
            continue
        if any((math.dist(a, p) <= tolerance and math.dist(b, q) <= tolerance)
               or (math.dist(a, q) <= tolerance and math.dist(b, p) <= tolerance) for p, q in segments):
            continue
        segments.append((a, b))
    loops: list[list[Point]] = []
    while segments:
        start, end = segments.pop()
        chain = [start, end]
        while True:
            found = next((i for i, s in enumerate(segments)
                          if math.dist(s[0], chain[-1]) <= tolerance or math.dist(s[1], chain[-1]) <= tolerance), None)
            if found is None:
                break
            a, b = segments.pop(found)
            chain.append(b if math.dist(a, chain[-1]) <= tolerance else a)
        loops.append(chain)
    return loops


def signed_area(loop: list[tuple[float, float]]) -> float:
    """Shoelace area of a closed loop in plane coordinates, positive when anticlockwise."""
    return sum(x0 * y1 - x1 * y0 for (x0, y0), (x1, y1) in zip(loop, loop[1:] + loop[:1])) * 0.5


def inside(point: tuple[float, float], loop: list[tuple[float, float]]) -> bool:
    """Even-odd test of a point against a closed loop."""
    x, y = point
    result = False
    for (x0, y0), (x1, y1) in zip(loop, loop[1:] + loop[:1]):
        if (y0 > y) != (y1 > y) and x < x0 + (y - y0) * (x1 - x0) / (y1 - y0):
            result = not result
    return result


def orient(loops: list[list[tuple[float, float]]]) -> list[list[tuple[float, float]]]:
    """The closed loops turned anticlockwise, except holes (loops inside an odd number of
    others), which turn clockwise: the sum of their signed areas is then the section's area."""
    result = []
    for i, loop in enumerate(loops):
        hole = sum(inside(loop[0], other) for j, other in enumerate(loops) if j != i) % 2 == 1
        result.append(loop[::-1] if (signed_area(loop) > 0) == hole else loop)
    return result


def render(path: pathlib.Path, mesh: velk.Mesh, points: list[Point], loops2d: list[list[tuple[float, float]]],
           shapes: list[list[tuple[float, float]]], title: str, axes_names: tuple[str, str]) -> None:
    fig = plt.figure(figsize=(10, 3.6), dpi=100)
    grid = fig.add_gridspec(1, 2, width_ratios=(1, 2.2))
    ax3 = fig.add_subplot(grid[0, 0], projection="3d")
    assert isinstance(ax3, Axes3D)
    nodes = mesh.nodes
    ax3.plot_trisurf([p[0] for p in nodes], [p[1] for p in nodes], [p[2] for p in nodes],
                     triangles=mesh.cells, color="#b8c4d6", alpha=0.6, edgecolor="none")
    for i in range(0, len(points), 2):
        a, b = points[i], points[i + 1]
        ax3.plot([a[0], b[0]], [a[1], b[1]], [a[2], b[2]], color="#d62728", linewidth=1.5)
    spans = [max(p[a] for p in nodes) - min(p[a] for p in nodes) for a in range(3)]
    ax3.set_box_aspect([max(s, 0.25 * max(spans)) for s in spans], zoom=0.95)
    ax3.view_init(elev=25, azim=-60)
    ax3.set_axis_off()
    ax3.set_title("mesh and the cut (red)", fontsize=10)

    ax = fig.add_subplot(grid[0, 1])
    ax.ticklabel_format(useOffset=False)
    if shapes:  # one compound path: the clockwise holes stay empty
        path_2d = Path.make_compound_path(*(Path(loop + loop[:1], closed=True) for loop in shapes))
        ax.add_patch(PathPatch(path_2d, facecolor="#3b8bd0", alpha=0.25, edgecolor="none"))
    ax.add_collection(LineCollection([loop + loop[:1] for loop in loops2d], colors="#1f4e79", linewidths=1.2))
    ax.autoscale()
    ax.set_aspect("equal")
    ax.set_xlabel(axes_names[0], fontsize=8)
    ax.set_ylabel(axes_names[1], fontsize=8)
    ax.grid(True, linewidth=0.3)
    ax.set_title(title, fontsize=10)
    fig.subplots_adjust(left=0.0, right=0.98, bottom=0.15, top=0.9, wspace=0.1)
    fig.savefig(path)
    plt.close(fig)


def main(argv: Sequence[str] | None = None) -> int:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("mesh", nargs="?", help="STL file to slice (default: write and slice a NACA 2412 wing)")
    parser.add_argument("--origin", type=float, nargs=3, metavar=("X", "Y", "Z"), help="a point on the plane")
    parser.add_argument("--normal", type=float, nargs=3, metavar=("X", "Y", "Z"), default=[0.0, 0.0, 1.0])
    parser.add_argument("--out", default="out", help="output folder (default: out)")
    args = parser.parse_args(argv)
    out = pathlib.Path(args.out)
    out.mkdir(parents=True, exist_ok=True)
    normal: Point = args.normal
    if dot(normal, normal) == 0.0:
        parser.error("--normal must not be zero")

    if args.mesh is None:
        source = out / "naca2412_wing.stl"
        velk.generate_naca_wing(2, 4, 12, 80, (0.0, 2.0)).write_stl(str(source))
        print(f"wrote {source}  (NACA 2412 wing, chord 1, span 2)")
    else:
        source = pathlib.Path(args.mesh)
    try:
        mesh = velk.Mesh.from_stl(str(source))
    except OSError as error:  # a missing or malformed file
        print(f"cannot read {source}: {error}", file=sys.stderr)
        return 1
    nodes = mesh.nodes
    low = [min(p[a] for p in nodes) for a in range(3)]
    high = [max(p[a] for p in nodes) for a in range(3)]
    origin: Point = args.origin if args.origin is not None else [(lo + hi) * 0.5 for lo, hi in zip(low, high)]
    points = section(mesh, origin, normal)
    if points is None:
        print(f"the plane through {origin} with normal {normal} does not cut {source}", file=sys.stderr)
        return 1
    size = math.dist(low, high)
    tolerance = size * 1e-9
    loops = join_loops(points, tolerance)
    closed = [math.dist(loop[0], loop[-1]) <= tolerance for loop in loops]
    u, v = plane_axes(normal)
    loops2d = [[(dot(p, u), dot(p, v)) for p in (loop[:-1] if shut else loop)]
               for loop, shut in zip(loops, closed)]
    shapes = orient([loop for loop, shut in zip(loops2d, closed) if shut])
    area = sum(signed_area(loop) for loop in shapes)
    print(f"{source}: {len(nodes)} nodes, {len(mesh.cells)} cells")
    print(f"section through {[round(c, 6) for c in origin]} normal {normal}: {len(points) // 2} segments, "
          f"{len(loops)} chains ({sum(closed)} closed), enclosed area {area:.6g}")

    picture = out / "section.png"
    names = (f"along ({u[0]:.3g}, {u[1]:.3g}, {u[2]:.3g})", f"along ({v[0]:.3g}, {v[1]:.3g}, {v[2]:.3g})")
    render(picture, mesh, points, loops2d, shapes, f"section of {source.name}: area {area:.4g}", names)
    print(f"wrote {picture}  (mesh with the cut, and the section in the plane)")
    return 0


if __name__ == "__main__":
    sys.exit(main())
