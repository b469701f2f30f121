"""Morphs a NACA 2412 wing two ways and shows the result.

The wing is bent upwards towards the tip and twisted nose-down there, first by free-form
deformation (moving part of a design block's lattice) and then by radial-basis-function
interpolation of a handful of moved control points. The script writes the wings as STL, the
lattices as VTP point files, and a picture of the wing before and after each morph.

    python3 examples/morph_wing.py [--out DIR]
"""

from __future__ import annotations

import argparse
import pathlib
import time
from collections.abc import Sequence
from typing import Final

import matplotlib

matplotlib.use("Agg")  # render to a file; no screen needed
import matplotlib.pyplot as plt  # noqa: E402
from matplotlib.colors import LightSource  # noqa: E402
from mpl_toolkits.mplot3d.axes3d import Axes3D  # noqa: E402

import velk  # noqa: E402

Nodes = list[list[float]]

SPAN = 4.0  # the wing runs from z = 0 (root) to z = SPAN (tip); the chord is 1 along x
BLOCK_LENGTH = [1.4, 0.6, 4.0]  # the block reaches past the leading and trailing edges and the tip
BLOCK_CENTRE = [0.5, 0.02, 2.5]  # its root face cuts the wing at z = 0.5, so the root stays put
BLOCK_RESOLUTION = [4, 2, 8]
TIP_LIFT = 0.5  # how far the outer part of the lattice rises (along y)
TIP_TWIST = 12.0  # twist of the outer part about the span axis, degrees: nose down (the trailing edge rises)
OUTER_FROM = 2.5  # lattice layers from this span position outwards are lifted and twisted
QUARTER_CHORD = 0.25
MID_SPAN_SHARE = 0.3  # RBF: the mid-span control points move by this share of the tip motion
RBF_KERNEL: Final = "multiquadric"  # Final keeps the literal type the stubs ask for
RBF_EPSILON = 40.0  # a wide kernel keeps the section shape between the control points


def build_wing(chord_points: int, span_stations: int) -> velk.Mesh:
    """A NACA 2412 wing with `span_stations` sections between root and tip.

    generate_naca_wing makes one span strip (a root and a tip section); a morph needs nodes
    along the span too, so the strip's profile is repeated at every station and its cells are
    reused between each pair of neighbouring stations."""
    strip = velk.generate_naca_wing(2, 4, 12, chord_points, (0.0, 1.0))
    profile = strip.nodes[0::2]  # even nodes are the root section, in profile order
    count = len(profile)
    nodes = [[x, y, SPAN * s / (span_stations - 1)] for s in range(span_stations) for x, y, _ in profile]
    cells = []
    for s in range(span_stations - 1):
        # Strip node 2k is profile point k at the lower station, node 2k + 1 the same point above.
        cells += [[(v // 2) + (s + v % 2) * count for v in cell] for cell in strip.cells]
    return velk.Mesh(nodes, cells)


def morph_lattice(block: velk.DesignBlock, wing: velk.Mesh) -> tuple[list[int], Nodes]:
    """Lifts and twists the free lattice nodes of the outer span; returns their ids and the
    moved lattice."""
    free = block.select_free_design_nodes(wing)  # layers next to the root face are held
    outer = [n for n in free if block.nodes[n][2] >= OUTER_FROM]
    # Scale first, then rotate about the pivot, then translate: a twist about the quarter chord
    # line followed by a lift.
    matrix = velk.build_transformation_matrix([0.0, TIP_LIFT, 0.0], [0.0, 0.0, TIP_TWIST], [1.0, 1.0, 1.0])
    moved = block.transform_subset(outer, matrix, [QUARTER_CHORD, 0.0, SPAN])
    return outer, moved


def rbf_controls(wing: velk.Mesh, span_stations: int) -> tuple[Nodes, Nodes]:
    """A handful of wing nodes as control points: six around the section at the root, at mid
    span and at the tip. The root ones stay; the tip ones are lifted and twisted like the outer
    lattice, the mid-span ones by a share of that."""
    count = len(wing.nodes) // span_stations  # nodes per section
    original: Nodes = []
    deformed: Nodes = []
    for station, share in ((0, 0.0), (span_stations // 2, MID_SPAN_SHARE), (span_stations - 1, 1.0)):
        # Six profile points spaced evenly round the section, starting at the trailing edge (the
        # last profile point repeats the leading edge and is left out).
        points = [wing.nodes[station * count + k] for k in range(0, count - 1, max(1, (count - 1) // 6))]
        matrix = velk.build_transformation_matrix(
            [0.0, TIP_LIFT * share, 0.0], [0.0, 0.0, TIP_TWIST * share], [1.0, 1.0, 1.0]
        )
        original += points
        deformed += velk.transform_nodes(points, matrix, [QUARTER_CHORD, 0.0, points[0][2]])
    return original, deformed


def plot_xyz(nodes: Sequence[Sequence[float]]) -> tuple[list[float], list[float], list[float]]:
    """Plot coordinates: the plot's depth axis shows the span (z), its vertical axis the lift (y)."""
    return [p[0] for p in nodes], [p[2] for p in nodes], [p[1] for p in nodes]


def draw_surface(ax: Axes3D, nodes: Nodes, cells: list[list[int]], colour: str) -> None:
    xs, ys, zs = plot_xyz(nodes)
    # Swapping y and z mirrors the picture, so the cells are flipped to keep outward normals
    # for the shading.
    flipped = [[a, c, b] for a, b, c in cells]
    ax.plot_trisurf(xs, ys, zs, triangles=flipped, color=colour, shade=True, edgecolor="none",
                    lightsource=LightSource(azdeg=250, altdeg=55), antialiased=False, zorder=2)


def draw_outline(ax: Axes3D, wing: velk.Mesh, span_stations: int) -> None:
    """The original wing as grey lines: root, mid and tip sections, leading and trailing edge."""
    count = len(wing.nodes) // span_stations
    nodes = wing.nodes
    for station in (0, span_stations // 2, span_stations - 1):
        section = nodes[station * count:(station + 1) * count]
        ax.plot(*plot_xyz(section + section[:1]), color="#8a8f99", linewidth=0.9)
    for k in (0, count // 2):  # trailing edge, leading edge
        ax.plot(*plot_xyz(nodes[k::count]), color="#8a8f99", linewidth=0.9, linestyle="--")


def draw_lattice(ax: Axes3D, nodes: Nodes, resolution: list[int], colour: str, alpha: float) -> None:
    """The lattice lines along x, y and z; node (i, j, k) is at (i·(ny + 1) + j)·(nz + 1) + k."""
    nx, ny, nz = resolution

    def at(i: int, j: int, k: int) -> list[float]:
        return nodes[(i * (ny + 1) + j) * (nz + 1) + k]

    lines = [[at(i, j, k) for k in range(nz + 1)] for i in range(nx + 1) for j in range(ny + 1)]
    lines += [[at(i, j, k) for j in range(ny + 1)] for i in range(nx + 1) for k in range(nz + 1)]
    lines += [[at(i, j, k) for i in range(nx + 1)] for j in range(ny + 1) for k in range(nz + 1)]
    for line in lines:
        ax.plot(*plot_xyz(line), color=colour, linewidth=0.6, alpha=alpha)


def draw_points(ax: Axes3D, nodes: Sequence[Sequence[float]], colour: str, size: float, label: str) -> None:
    ax.scatter(*plot_xyz(nodes), color=colour, s=size, depthshade=False, label=label, zorder=3)


def frame(ax: Axes3D, title: str) -> None:
    """Limits, view and labels shared by both panels."""
    ax.text2D(0.5, 0.96, title, transform=ax.transAxes, ha="center", fontsize=11)
    ax.set_xlim(-0.3, 1.3)
    ax.set_ylim(0.0, SPAN + 0.5)
    ax.set_zlim(-0.4, 0.9)
    ax.set_box_aspect((1.6, SPAN + 0.5, 1.3), zoom=1.3)
    ax.view_init(elev=22, azim=-125)
    ax.set_xlabel("chord x", fontsize=8, labelpad=-8)
    ax.set_ylabel("span z", fontsize=8, labelpad=-6)
    ax.set_zlabel("lift y", fontsize=8, labelpad=-8)
    ax.tick_params(labelsize=6, pad=-3)
    for axis in (ax.xaxis, ax.yaxis, ax.zaxis):
        axis.set_pane_color((0.97, 0.97, 0.985, 1.0))
    ax.legend(loc="upper right", bbox_to_anchor=(0.98, 0.9), fontsize=7, frameon=False)


def render(path: pathlib.Path, wing: velk.Mesh, span_stations: int, block: velk.DesignBlock, moved_ids: list[int],
           moved_lattice: Nodes, ffd_nodes: Nodes, rbf_nodes: Nodes, controls: tuple[Nodes, Nodes]) -> None:
    fig = plt.figure(figsize=(11, 4.6), dpi=110)
    ffd_ax = fig.add_subplot(1, 2, 1, projection="3d")
    assert isinstance(ffd_ax, Axes3D)
    ffd_ax.computed_zorder = False  # lines below the wing, points on top: a fixed drawing order
    draw_lattice(ffd_ax, block.nodes, block.resolution, "#9aa0aa", 0.35)
    draw_lattice(ffd_ax, moved_lattice, block.resolution, "#d62728", 0.45)
    draw_outline(ffd_ax, wing, span_stations)
    draw_surface(ffd_ax, ffd_nodes, wing.cells, "#3b8bd0")
    draw_points(ffd_ax, [moved_lattice[n] for n in moved_ids], "#d62728", 7, "lifted and twisted lattice nodes")
    ffd_ax.plot([], [], color="#d62728", linewidth=0.6, alpha=0.6, label="moved lattice")
    ffd_ax.plot([], [], color="#8a8f99", linewidth=0.9, label="original wing")
    frame(ffd_ax, "Free-form deformation of a design block")

    rbf_ax = fig.add_subplot(1, 2, 2, projection="3d")
    assert isinstance(rbf_ax, Axes3D)
    rbf_ax.computed_zorder = False
    draw_outline(rbf_ax, wing, span_stations)
    draw_surface(rbf_ax, rbf_nodes, wing.cells, "#e8913a")
    for p, q in zip(*controls):
        rbf_ax.plot(*plot_xyz([p, q]), color="#d62728", linewidth=0.8, zorder=3)
    draw_points(rbf_ax, controls[0], "#333333", 9, "control points")
    draw_points(rbf_ax, controls[1], "#d62728", 12, "moved control points")
    rbf_ax.plot([], [], color="#8a8f99", linewidth=0.9, label="original wing")
    frame(rbf_ax, "RBF interpolation of moved control points")

    fig.suptitle("velk: morphing a NACA 2412 wing (tip lifted and twisted nose-down)", fontsize=13, y=0.985)
    fig.subplots_adjust(left=0.0, right=1.0, bottom=0.0, top=0.93, wspace=-0.05)
    fig.savefig(path)
    plt.close(fig)


def main(argv: Sequence[str] | None = None) -> None:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--out", default="out", help="output folder (default: out)")
    parser.add_argument("--chord-points", type=int, default=60, help="chord intervals of the section")
    parser.add_argument("--span-stations", type=int, default=33, help="sections from root to tip")
    args = parser.parse_args(argv)
    if args.chord_points < 3 or args.span_stations < 3:
        parser.error("--chord-points and --span-stations must be at least 3")
    start = time.perf_counter()
    out = pathlib.Path(args.out)
    out.mkdir(parents=True, exist_ok=True)

    wing = build_wing(args.chord_points, args.span_stations)
    block = velk.DesignBlock(BLOCK_LENGTH, BLOCK_CENTRE, [0, 0, 0], BLOCK_RESOLUTION)
    moved_ids, moved_lattice = morph_lattice(block, wing)
    ffd_nodes = velk.FreeFormDeformer(block).deform(wing.nodes, moved_lattice)

    original, deformed = rbf_controls(wing, args.span_stations)
    rbf_nodes = velk.RbfDeformer(original, deformed, RBF_KERNEL, RBF_EPSILON).deform(wing.nodes)

    written = {
        "wing.stl": "original wing",
        "wing_ffd.stl": "wing morphed by free-form deformation",
        "wing_rbf.stl": "wing morphed by RBF interpolation",
        "lattice.vtp": "design block lattice",
        "lattice_moved.vtp": "lattice after lift and twist",
        "morph_wing.png": "picture of both morphs",
    }
    wing.write_stl(str(out / "wing.stl"))
    velk.Mesh(ffd_nodes, wing.cells).write_stl(str(out / "wing_ffd.stl"))
    velk.Mesh(rbf_nodes, wing.cells).write_stl(str(out / "wing_rbf.stl"))
    velk.write_vtp(block.nodes, str(out / "lattice.vtp"))
    velk.write_vtp(moved_lattice, str(out / "lattice_moved.vtp"))
    render(out / "morph_wing.png", wing, args.span_stations, block, moved_ids, moved_lattice, ffd_nodes, rbf_nodes,
           (original, deformed))

    print(f"wing: {len(wing.nodes)} nodes, {len(wing.cells)} cells; lattice: {len(block.nodes)} nodes, "
          f"{len(moved_ids)} lifted and twisted")
    for name, what in written.items():
        print(f"wrote {out / name}  ({what})")
    print(f"done in {time.perf_counter() - start:.1f} s")


if __name__ == "__main__":
    main()
