"""Moves a CFD volume mesh around a wing that bends and twists.

A tetrahedral mesh of the air around a NACA 2412 wing is made with gmsh, in a box 12 chords
across. The wing is bent upwards and twisted nose-down towards its tip by velk's free-form
deformation. The volume nodes then follow with velk_morph.RbfMorph, driven by the wing's surface
nodes (their FFD displacement) and the box's nodes (no displacement, so the far field stays).
The script prints the inverted-cell count, writes the mesh before and after as VTU files, and
draws a section of the mesh at mid-span before and after.

    python3 examples/volume_morph.py [--out DIR] [--size S] [--kernel K]

--size scales the cell size (smaller is finer: 0.5 gives about six times the cells).
"""

from __future__ import annotations

import argparse
import pathlib
import time

import gmsh
import matplotlib

matplotlib.use("Agg")  # render to a file; no screen needed
import matplotlib.pyplot as plt  # noqa: E402
import meshio  # noqa: E402
import numpy as np  # noqa: E402
import numpy.typing as npt  # noqa: E402
from matplotlib.collections import PolyCollection  # noqa: E402

import velk  # noqa: E402
import velk_morph  # noqa: E402

Array = npt.NDArray[np.float64]

SPAN = 3.0  # the wing runs from z = 0 to z = SPAN; the chord is 1 along x, lift along y
BOX_LOW = (-5.5, -6.0, -4.0)  # the far-field box, 12 chords across and beyond the tip
BOX_HIGH = (6.5, 6.0, SPAN + 4.0)
TIP_LIFT = 0.3  # the tip rises by this much (a bend growing with the square of the span)
TIP_TWIST = 8.0  # and turns nose-down by this many degrees about the quarter chord
QUARTER_CHORD = 0.25


def naca_section(points: int, thickness: float = 0.12, camber: float = 0.02,
                 camber_at: float = 0.4) -> Array:
    """A closed NACA four-digit section, cosine spaced, from the trailing edge over the upper
    side to the leading edge and back along the lower side (the trailing edge once)."""
    beta = np.linspace(0.0, np.pi, points)
    x = 0.5 * (1.0 - np.cos(beta))
    t = 5 * thickness * (0.2969 * np.sqrt(x) - 0.1260 * x - 0.3516 * x**2 + 0.2843 * x**3
                         - 0.1036 * x**4)
    fore = x < camber_at
    yc = np.where(fore, camber / camber_at**2 * (2 * camber_at * x - x**2),
                  camber / (1 - camber_at)**2 * ((1 - 2 * camber_at) + 2 * camber_at * x - x**2))
    slope = np.where(fore, 2 * camber / camber_at**2 * (camber_at - x),
                     2 * camber / (1 - camber_at)**2 * (camber_at - x))
    theta = np.arctan(slope)
    upper = np.column_stack([x - t * np.sin(theta), yc + t * np.cos(theta)])
    lower = np.column_stack([x + t * np.sin(theta), yc - t * np.cos(theta)])
    # Upper side from the trailing edge forward, then the lower side back, each edge once.
    return np.vstack([upper[::-1], lower[1:-1]])


def mesh_air(size: float) -> tuple[Array, npt.NDArray[np.int64], npt.NDArray[np.int64],
                                   npt.NDArray[np.int64]]:
    """Points, tetrahedra, wing-surface node ids and box node ids of the air around the wing."""
    gmsh.initialize()
    gmsh.option.setNumber("General.Terminal", 0)
    gmsh.option.setNumber("General.NumThreads", 2)
    try:
        occ = gmsh.model.occ
        section = naca_section(60)
        tags = [occ.addPoint(x, y, 0.0) for x, y in section]
        curve = occ.addBSpline(tags + [tags[0]])
        face = occ.addPlaneSurface([occ.addCurveLoop([curve])])
        wing = occ.extrude([(2, face)], 0.0, 0.0, SPAN)
        wing_volume = [e for e in wing if e[0] == 3]
        box = occ.addBox(*BOX_LOW, *(h - lo for h, lo in zip(BOX_HIGH, BOX_LOW)))
        air, _ = occ.cut([(3, box)], wing_volume)
        occ.synchronize()
        boundary = gmsh.model.getBoundary(air, oriented=False)
        box_faces: list[int] = []
        wing_faces: list[int] = []
        for dim, tag in boundary:
            lo = gmsh.model.getBoundingBox(dim, tag)
            on_box = any(abs(v - b) < 1e-6 for v, b in zip(lo[:3], BOX_LOW)) or any(
                abs(v - b) < 1e-6 for v, b in zip(lo[3:], BOX_HIGH))
            (box_faces if on_box else wing_faces).append(tag)
        # Fine cells at the wing, growing to the far field.
        field = gmsh.model.mesh.field
        distance = field.add("Distance")
        field.setNumbers(distance, "SurfacesList", wing_faces)
        threshold = field.add("Threshold")
        field.setNumber(threshold, "InField", distance)
        field.setNumber(threshold, "SizeMin", 0.05 * size)
        field.setNumber(threshold, "SizeMax", 1.2 * size)
        field.setNumber(threshold, "DistMin", 0.05)
        field.setNumber(threshold, "DistMax", 4.0)
        field.setAsBackgroundMesh(threshold)
        gmsh.option.setNumber("Mesh.MeshSizeExtendFromBoundary", 0)
        gmsh.option.setNumber("Mesh.MeshSizeFromPoints", 0)
        gmsh.option.setNumber("Mesh.MeshSizeFromCurvature", 0)
        gmsh.model.mesh.generate(3)

        node_tags, coords, _ = gmsh.model.mesh.getNodes()
        index = np.full(int(node_tags.max()) + 1, -1, dtype=np.int64)
        index[node_tags.astype(np.int64)] = np.arange(len(node_tags))
        points = coords.reshape(-1, 3)
        _, _, tet_nodes = gmsh.model.mesh.getElements(3)
        tets = index[np.asarray(tet_nodes[0], dtype=np.int64)].reshape(-1, 4)

        def nodes_on(faces: list[int]) -> npt.NDArray[np.int64]:
            found = [gmsh.model.mesh.getNodes(2, f, includeBoundary=True)[0] for f in faces]
            return np.unique(index[np.concatenate(found).astype(np.int64)])

        return points, tets, nodes_on(wing_faces), nodes_on(box_faces)
    finally:
        gmsh.finalize()


def bend_and_twist(wing_points: Array) -> Array:
    """The wing's surface after velk's free-form deformation: the lattice layers rise with the
    square of the span position and turn nose-down about the quarter chord, the root layer
    staying where it is."""
    block = velk.DesignBlock([1.4, 0.5, SPAN + 0.2], [0.5, 0.01, SPAN / 2], [0, 0, 0], [3, 2, 6])
    nodes = np.array(block.nodes)
    share = np.clip(nodes[:, 2] / SPAN, 0.0, None)
    angle = np.radians(TIP_TWIST) * share  # the trailing edge rises: nose down
    dx, dy = nodes[:, 0] - QUARTER_CHORD, nodes[:, 1]
    moved = nodes.copy()
    moved[:, 0] = QUARTER_CHORD + dx * np.cos(angle) - dy * np.sin(angle)
    moved[:, 1] = dx * np.sin(angle) + dy * np.cos(angle) + TIP_LIFT * share**2
    return np.asarray(velk.FreeFormDeformer(block).deform(wing_points, moved))


def section_polygons(points: Array, tets: npt.NDArray[np.int64], z: float) -> list[Array]:
    """The (x, y) polygons where the plane at span position z cuts the tetrahedra."""
    corner_z = points[tets, 2]
    crossing = tets[(corner_z.min(axis=1) < z) & (corner_z.max(axis=1) > z)]
    polygons = []
    for tet in crossing:
        p = points[tet]
        cut = []
        for i in range(4):
            for j in range(i + 1, 4):
                zi, zj = p[i, 2], p[j, 2]
                if (zi - z) * (zj - z) < 0:
                    t = (z - zi) / (zj - zi)
                    cut.append(p[i, :2] + t * (p[j, :2] - p[i, :2]))
        if len(cut) == 4:  # order the quadrilateral around its centre
            c = np.mean(cut, axis=0)
            cut.sort(key=lambda q: float(np.arctan2(q[1] - c[1], q[0] - c[0])))
        polygons.append(np.array(cut))
    return polygons


def draw(before: Array, after: Array, tets: npt.NDArray[np.int64], path: pathlib.Path) -> None:
    z = SPAN * 0.75
    figure, axes = plt.subplots(1, 2, figsize=(12, 5.5), sharex=True, sharey=True)
    for ax, points, title in ((axes[0], before, "before"), (axes[1], after, "after")):
        ax.add_collection(PolyCollection(section_polygons(points, tets, z), facecolors="none",
                                         edgecolors="tab:blue", linewidths=0.3))
        ax.set_title(f"section at z = {z:g}, {title}")
        ax.set_aspect("equal")
        ax.set_xlim(-0.6, 1.6)
        ax.set_ylim(-0.8, 1.0)
    figure.tight_layout()
    figure.savefig(path, dpi=100)


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--out", type=pathlib.Path, default=pathlib.Path("out"))
    parser.add_argument("--size", type=float, default=1.0, help="cell size scale (smaller: finer)")
    parser.add_argument("--kernel", default="thin_plate_spline",
                        help="RbfMorph kernel (a Wendland kernel uses a support radius of 1.5 chords)")
    args = parser.parse_args()
    args.out.mkdir(parents=True, exist_ok=True)

    start = time.perf_counter()
    points, tets, wing_ids, box_ids = mesh_air(args.size)
    print(f"meshed {len(points)} nodes, {len(tets)} tetrahedra ({len(wing_ids)} on the wing, "
          f"{len(box_ids)} on the box) in {time.perf_counter() - start:.1f} s")

    start = time.perf_counter()
    wing_moved = bend_and_twist(points[wing_ids])
    controls = np.vstack([points[wing_ids], points[box_ids]])
    moves = np.vstack([wing_moved - points[wing_ids], np.zeros((len(box_ids), 3))])
    if args.kernel.startswith("wendland"):
        # A compact kernel leaves everything beyond its support where it is: the box needs no
        # controls of its own.
        morph = velk_morph.RbfMorph(points[wing_ids], moves[: len(wing_ids)], kernel=args.kernel,
                                    epsilon=1 / 1.5)
    else:
        morph = velk_morph.RbfMorph(controls, moves, kernel=args.kernel)
    after = morph.deform(points)
    elapsed = time.perf_counter() - start
    miss = np.abs(after[wing_ids] - wing_moved).max()
    inverted = velk_morph.inverted_cells(points, after, tets)
    print(f"morphed with {args.kernel} ({morph.n_controls} controls) in {elapsed:.2f} s; "
          f"largest miss on the wing {miss:.1e}")
    print(f"inverted cells: {len(inverted)}")
    print(f"smallest tetrahedron volume: before {velk_morph.cell_quality(points, tets).min():.3e}, "
          f"after {velk_morph.cell_quality(after, tets).min():.3e}")

    for name, pts in (("air.vtu", points), ("air_morphed.vtu", after)):
        meshio.write(args.out / name, meshio.Mesh(pts, [("tetra", tets)]))
        print(f"wrote {args.out / name}  (the volume mesh)")
    picture = args.out / "volume_morph.png"
    draw(points, after, tets, picture)
    print(f"wrote {picture}  (a section before and after)")


if __name__ == "__main__":
    main()
