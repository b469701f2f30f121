"""Optimises the shape of a wing with OpenMDAO, using velk_morph's exact derivatives.

A swept, tapered NACA 2412 wing sits in a free-form deformation block whose root face cuts
the wing, so the root stays put. Twenty design variables move the block's free lattice
nodes: the twist at three span stations, a dihedral of the tip layer, and the vertical moves
of sixteen single nodes above and below the wing. The optimiser (SLSQP) brings the morphed
wing as close as it can, in the least-squares sense, to a target wing (washed out, bent up
and thickened towards the tip) while holding the enclosed volume at its initial value.

One OpenMDAO component morphs the wing and measures what the optimiser sees, the misfit and
the volume. Its partials come as they would from a flow solver's adjoint: the gradient of
each measure with respect to the mesh points, carried back to the design variables by
velk_morph (`LatticeVariables.vjp` through `Ffd`). With --fd they are OpenMDAO's forward
differences instead. The script prints the relative errors OpenMDAO's own `check_partials`
and `check_totals` report, and with exact partials exits with an error if one exceeds 1e-6;
then the history and the number of morphs (deformations and products alike), and draws the
three wings.

    python3 examples/optimise_wing.py [--out DIR] [--fd] [--chord-points N] [--span-stations N]
"""

from __future__ import annotations

import argparse
import pathlib
import time
from collections.abc import Sequence
from typing import Any

import matplotlib
import numpy as np
import numpy.typing as npt

matplotlib.use("Agg")  # render to a file; no screen needed
import matplotlib.pyplot as plt  # noqa: E402
import openmdao.api as om  # noqa: E402

import velk  # noqa: E402
import velk_morph  # noqa: E402

Array = npt.NDArray[np.float64]

SPAN = 4.0
ROOT_FACE = 0.6  # the block starts here along the span: the wing's inner part does not move
BLOCK_LENGTH = [1.6, 0.6, 3.8]  # past the leading and trailing edges and the tip
BLOCK_CENTRE = [0.65, 0.02, ROOT_FACE + 1.9]
BLOCK_RESOLUTION = [4, 2, 6]
TWIST_PIVOT = [0.5, 0.0, 0.0]  # the twist axis runs along z through this point
CHECK_STEP = 1e-3  # the central differences check_partials and check_totals compare against
MAX_RELATIVE_ERROR = 1e-6


def make_wing(chord_points: int, span_stations: int) -> tuple[Array, npt.NDArray[np.int64]]:
    return velk_morph.naca_wing("2412", chord_points=chord_points, span_stations=span_stations,
                                span=SPAN, taper=0.6, sweep=10.0)


def make_target(points: Array) -> Array:
    """Washed out by 5 degrees (nose down), bent up by 0.2 and thickened by a quarter at the tip,
    growing with the square of the distance from the block's root face."""
    s = np.clip((points[:, 2] - ROOT_FACE) / (SPAN - ROOT_FACE), 0.0, 1.0)
    angle = np.radians(-5.0 * s)
    x, y = points[:, 0] - TWIST_PIVOT[0], points[:, 1] * (1.0 + 0.25 * s)
    target = points.copy()
    target[:, 0] = TWIST_PIVOT[0] + np.cos(angle) * x - np.sin(angle) * y
    target[:, 1] = np.sin(angle) * x + np.cos(angle) * y + 0.2 * s**2
    return target


class Design:
    """The block, its deformation and the variables that move its free lattice nodes."""

    def __init__(self, points: Array, triangles: npt.NDArray[np.int64]):
        block = velk.DesignBlock(BLOCK_LENGTH, BLOCK_CENTRE, [0, 0, 0], BLOCK_RESOLUTION)
        self.ffd = velk_morph.Ffd(block)
        nodes = self.ffd.nodes
        free = np.array(block.select_free_design_nodes(velk.Mesh(points.tolist(), triangles.tolist())))
        self.variables = velk_morph.LatticeVariables(nodes)
        # Twist at the innermost free layer, mid-way and at the outer face of the block.
        layers = np.unique(nodes[free, 2])
        stations = [layers[0], 0.5 * (layers[0] + layers[-1]), layers[-1]]
        self.twist = self.variables.rotate(free, axis=[0, 0, 1], pivot=TWIST_PIVOT,
                                           stations=stations, along=[0, 0, 1])
        # Dihedral: the tip layer turns about the chordwise axis through the root face, lifting
        # the tip. (Lifting the whole layer straight up would be a shear, y + f(z), which keeps
        # every volume: a volume derivative that is zero up to round-off, which no relative
        # error can measure.)
        tip = free[nodes[free, 2] > nodes[:, 2].max() - 1e-9]
        self.dihedral = self.variables.rotate(tip, axis=[-1, 0, 0], pivot=[0, 0, ROOT_FACE])
        nx, ny, nz = BLOCK_RESOLUTION
        index = lambda i, j, k: (i * (ny + 1) + j) * (nz + 1) + k  # noqa: E731
        bumps = [index(i, j, k) for j in (0, ny) for i in (1, 3) for k in (3, 4, 5, 6)]
        assert set(bumps) <= set(free.tolist())
        self.bumps = np.concatenate([self.variables.translate([b], direction=[0, 1, 0]) for b in bumps])
        self.morphs, self.morph_seconds = 0, 0.0  # deformations and products alike

    def morph(self, call: Any, *args: Any) -> Array:
        """One velk_morph deformation or product, counted and timed."""
        start = time.perf_counter()
        result: Array = call(*args)
        self.morph_seconds += time.perf_counter() - start
        self.morphs += 1
        return result

    def split(self, inputs: Any) -> Array:
        values = np.zeros(self.variables.size)
        for name, indices in self.groups().items():
            values[indices] = inputs[name]
        return values

    def groups(self) -> dict[str, npt.NDArray[np.int64]]:
        return {"twist": self.twist, "dihedral": self.dihedral, "bumps": self.bumps}


class WingShape(om.ExplicitComponent):  # type: ignore[misc]
    """Design variables in; the misfit to the target wing and the enclosed volume out, through
    the lattice, the deformation and the two measures. Finite-difference partials."""

    def initialize(self) -> None:
        self.options.declare("design")
        self.options.declare("wing")
        self.options.declare("target")
        self.options.declare("triangles")
        self.history: list[tuple[float, float]] = []
        self.morphed: tuple[Array, Array] | None = None  # (values, points) of the last deformation

    def setup(self) -> None:
        design: Design = self.options["design"]
        for name, indices in design.groups().items():
            self.add_input(name, np.zeros(len(indices)))
        self.add_output("misfit", 0.0)
        self.add_output("volume", 0.0)
        if type(self) is WingShape:
            self.declare_partials(["misfit", "volume"], "*", method="fd")  # OpenMDAO's forward differences

    def points(self, values: Array) -> Array:
        """The morphed wing at these variable values, deformed once for each new set of them."""
        if self.morphed is None or not np.array_equal(self.morphed[0], values):
            design: Design = self.options["design"]
            lattice = design.variables.lattice(values)
            self.morphed = (values.copy(), design.morph(design.ffd.deform, self.options["wing"], lattice))
        return self.morphed[1]

    def compute(self, inputs: Any, outputs: Any) -> None:
        points = self.points(self.options["design"].split(inputs))
        outputs["misfit"] = np.sum((points - self.options["target"]) ** 2) / len(points)
        outputs["volume"] = velk_morph.volume(points, self.options["triangles"])
        if not self.under_approx:
            self.history.append((float(outputs["misfit"][0]), float(outputs["volume"][0])))


class ExactWingShape(WingShape):
    """The same shape with exact partials, as a flow solver's adjoint gives them: the gradient of
    each measure with respect to the mesh points, carried back to the design variables by one
    velk_morph product (`LatticeVariables.vjp`) per measure."""

    def setup(self) -> None:
        super().setup()
        self.declare_partials(["misfit", "volume"], "*")

    def compute_partials(self, inputs: Any, partials: Any) -> None:
        design: Design = self.options["design"]
        values = design.split(inputs)
        points = self.points(values)
        gradients = {"misfit": 2.0 * (points - self.options["target"]) / len(points),
                     "volume": velk_morph.volume_gradient(points, self.options["triangles"])}
        for response, gradient in gradients.items():
            carried = design.morph(design.variables.vjp, design.ffd, self.options["wing"], values, gradient)
            for name, indices in design.groups().items():
                partials[response, name] = carried[indices]


def build(design: Design, wing: Array, target: Array, triangles: npt.NDArray[np.int64],
          volume: float, fd: bool) -> tuple[om.Problem, WingShape]:
    prob = om.Problem(reports=False)
    model = prob.model
    shape = WingShape if fd else ExactWingShape
    wing_shape = model.add_subsystem(
        "shape", shape(design=design, wing=wing, target=target, triangles=triangles), promotes=["*"])
    model.add_design_var("twist", lower=-15.0, upper=15.0, ref=10.0)
    model.add_design_var("dihedral", lower=-15.0, upper=15.0, ref=10.0)
    model.add_design_var("bumps", lower=-0.3, upper=0.3)
    model.add_objective("misfit", ref=1e-3)
    model.add_constraint("volume", equals=volume, ref=volume)
    prob.driver = om.ScipyOptimizeDriver(optimizer="SLSQP", tol=1e-12, maxiter=200, disp=False)
    prob.setup(mode="rev", force_alloc_complex=False)
    return prob, wing_shape


def relative_errors(data: dict[tuple[str, str], Any]) -> dict[str, float]:
    """OpenMDAO's "rel error" of every (of, wrt) pair, per product it checked (forward, reverse,
    forward against reverse)."""
    errors = {}
    for (of, wrt), entry in data.items():
        for mode, value in zip(("fwd", "rev", "fwd-rev"), entry["rel error"]):
            if value is not None:
                errors[f"{of} / {wrt} ({mode})"] = float(value)
    return errors


def draw(path: pathlib.Path, triangles: npt.NDArray[np.int64], wings: dict[str, Array], ring: int) -> None:
    fig = plt.figure(figsize=(11, 4.5))
    ax = fig.add_subplot(1, 2, 1, projection="3d")
    colours = {"initial": "tab:grey", "optimised": "tab:blue", "target": "tab:orange"}
    for name, points in wings.items():
        ax.plot_trisurf(points[:, 0], points[:, 2], points[:, 1], triangles=triangles,
                        color=colours[name], alpha=0.35, linewidth=0.1, edgecolor=colours[name])
    ax.set_xlabel("x (chord)")
    ax.set_ylabel("z (span)")
    ax.set_zlabel("y")
    ax.set_box_aspect((1.5, 4, 0.8))
    ax.set_title("wings")
    tip = fig.add_subplot(1, 2, 2)
    for name, points in wings.items():
        section = points[-ring:]
        closed = np.vstack([section, section[:1]])
        tip.plot(closed[:, 0], closed[:, 1], color=colours[name], label=name)
    tip.set_aspect("equal")
    tip.set_title("tip section")
    tip.legend()
    fig.tight_layout()
    fig.savefig(path, dpi=110)
    plt.close(fig)


def main(argv: Sequence[str] | None = None) -> None:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--out", default="out", help="output folder (default: out)")
    parser.add_argument("--fd", action="store_true", help="finite-difference partials")
    parser.add_argument("--chord-points", type=int, default=24, help="chord intervals per surface")
    parser.add_argument("--span-stations", type=int, default=17, help="sections from root to tip")
    args = parser.parse_args(argv)
    out = pathlib.Path(args.out)
    out.mkdir(parents=True, exist_ok=True)

    wing, triangles = make_wing(args.chord_points, args.span_stations)
    target = make_target(wing)
    volume = velk_morph.volume(wing, triangles)
    design = Design(wing, triangles)
    print(f"wing: {len(wing)} points, {len(triangles)} triangles, volume {volume:.6f}; "
          f"lattice {len(design.ffd.nodes)} nodes, {design.variables.size} design variables; "
          f"partials: {'finite differences' if args.fd else 'exact (velk_morph)'}")

    prob, shape = build(design, wing, target, triangles, volume, args.fd)
    rng = np.random.default_rng(0)  # check the derivatives away from the all-zero start
    prob.set_val("twist", rng.uniform(-3, 3, 3))
    prob.set_val("dihedral", 1.0)
    prob.set_val("bumps", rng.uniform(-0.02, 0.02, len(design.bumps)))
    prob.run_model()
    # OpenMDAO's own figures: per (of, wrt) pair, the relative error at the entry that violates
    # the tolerance most, against central differences.
    checks = {
        "check_partials": relative_errors(prob.check_partials(
            method="fd", form="central", step=CHECK_STEP, out_stream=None)["shape"]),
        "check_totals": relative_errors(prob.check_totals(
            method="fd", form="central", step=CHECK_STEP, out_stream=None)),
    }
    for title, found in checks.items():
        print(f"{title}: OpenMDAO's rel error per pair, largest {max(found.values()):.2e}")
        for key, value in found.items():
            print(f"  {key}: {value:.2e}")
    # Forward differences (--fd) are checked and shown, but only exact partials are held to the bound.
    worst = max(max(found.values()) for found in checks.values())
    if not args.fd and not worst <= MAX_RELATIVE_ERROR:
        raise SystemExit(f"derivative check failed: rel error {worst:.2e} > {MAX_RELATIVE_ERROR:.0e}")

    for name, indices in design.groups().items():
        prob.set_val(name, np.zeros(len(indices)))
    design.morphs, design.morph_seconds, shape.history = 0, 0.0, []
    start = time.perf_counter()
    result = prob.run_driver()
    seconds = time.perf_counter() - start
    morphs, morph_seconds = design.morphs, design.morph_seconds
    print("history (evaluation: misfit, volume):")
    for k, (misfit, vol) in enumerate(shape.history):
        print(f"  {k:3d}: {misfit:.10e}  {vol:.8f}")
    optimised = shape.points(design.split({name: prob.get_val(name) for name in design.groups()}))
    print(f"optimised: misfit {float(prob.get_val('misfit')[0]):.10e} (from "
          f"{np.sum((wing - target) ** 2) / len(wing):.10e}), volume "
          f"{velk_morph.volume(optimised, triangles):.8f}, success {result.success}")
    print(f"twist {np.round(prob.get_val('twist'), 4).tolist()}, dihedral "
          f"{float(prob.get_val('dihedral')[0]):.4f}")
    print(f"morphs: {morphs} taking {1e3 * morph_seconds:.1f} ms of the optimisation's {seconds:.2f} s "
          f"({prob.driver.iter_count} driver iterations)")
    picture = out / "optimise_wing.png"
    draw(picture, triangles, {"initial": wing, "optimised": optimised, "target": target},
         2 * args.chord_points)
    print(f"wrote {picture}  (initial, optimised and target wings)")


if __name__ == "__main__":
    main()
