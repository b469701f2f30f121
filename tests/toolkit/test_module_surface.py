"""velk_morph as users meet it: every public name documented, stubs that the type checker reads
and that match the runtime module, and velk's own module untouched by its presence."""

import ast
import inspect
import pathlib
import subprocess
import sys

import pytest

import velk
import velk_morph

PUBLIC = sorted(name for name in dir(velk_morph) if not name.startswith("_"))


@pytest.mark.parametrize("name", PUBLIC)
def test_every_public_name_is_documented(name):
    obj = getattr(velk_morph, name)
    if isinstance(obj, str):
        return
    doc = inspect.getdoc(obj) or ""
    for section in ["Parameters", "Returns", "Raises", "Examples"]:
        if inspect.isclass(obj) and section == "Returns":
            continue
        assert section in doc, f"{name} lacks a {section} section"


def test_importing_velk_morph_adds_nothing_to_velk():
    code = "import velk; before = set(dir(velk)); import velk_morph; print(set(dir(velk)) - before)"
    out = subprocess.run([sys.executable, "-c", code], capture_output=True, text=True, check=True)
    assert out.stdout.strip() == "set()"
    assert "velk_morph" not in dir(velk)


def run(cwd, *args):
    # Outside the source tree, so that the installed stubs are the ones checked.
    return subprocess.run([sys.executable, "-m", *args], capture_output=True, text=True, cwd=cwd)


def test_installed_stubs_name_exactly_the_public_names():
    # The stubs are generated from the built module at build time; stubtest cannot read
    # nanobind's function objects, so the names are compared here and the types by mypy below.
    stub = pathlib.Path(velk_morph.__file__).with_name("velk_morph.pyi")
    if not stub.is_file():
        pytest.skip("velk_morph is not the installed module")
    tree = ast.parse(stub.read_text())
    names = {node.name for node in tree.body
             if isinstance(node, (ast.FunctionDef, ast.ClassDef)) and not node.name.startswith("_")}
    assert names == {name for name in PUBLIC if name != "__version__"} - {
        name for name in PUBLIC if isinstance(getattr(velk_morph, name), str)}


STRICT_SCRIPT = '''
import numpy as np
import numpy.typing as npt

import velk_morph

points = np.random.default_rng(0).normal(size=(100, 3))
cells = np.array([[0, 1, 2, 3], [4, 5, 6, 7]], dtype=np.int64)
volumes: npt.NDArray[np.float64] = velk_morph.cell_quality(points, cells)
flipped: npt.NDArray[np.int64] = velk_morph.inverted_cells(points, points * 2.0, cells)
print(float(volumes.sum()), int(flipped.size))

import velk

wing, triangles = velk_morph.naca_wing("2412", chord_points=8, span_stations=3, twist=-3.0)
ffd = velk_morph.Ffd(velk.DesignBlock([1.4, 0.4, 4.4], [0.5, 0.0, 2.0], [0, 0, 0], [3, 2, 4]))
design = velk_morph.LatticeVariables(ffd.nodes)
twist: npt.NDArray[np.int64] = design.rotate(
    np.arange(len(ffd.nodes)), axis=[0, 0, 1], pivot=[0.25, 0, 0], stations=[0.0, 4.0],
    along=[0, 0, 1])
values = np.zeros(design.size)
morphed: npt.NDArray[np.float64] = ffd.deform(wing, design.lattice(values))
volume: float = velk_morph.volume(morphed, triangles)
gradient: npt.NDArray[np.float64] = design.vjp(
    ffd, wing, values, velk_morph.volume_gradient(morphed, triangles))
lattice_gradient: npt.NDArray[np.float64] = ffd.vjp(wing, velk_morph.area_gradient(wing, triangles))
forward: npt.NDArray[np.float64] = ffd.jvp(wing, design.jacobian(values)[:, 0].reshape(-1, 3))
print(volume, float(gradient[twist[0]]), lattice_gradient.shape, forward.shape,
      ffd.jacobian(wing, node_ids=[0, 1]).shape)
controls = wing[::7]
rbf = velk_morph.RbfMorph(controls, np.zeros_like(controls))
control_gradient: npt.NDArray[np.float64] = rbf.vjp(wing, np.ones_like(wing))
moved_wing: npt.NDArray[np.float64] = rbf.jvp(wing, control_gradient)
print(moved_wing.shape)
morph = velk_morph.IdwMorph(points[:10], points[:10] * 0.1, power=2.0)
seen: list[tuple[int, int]] = []
moved: npt.NDArray[np.float64] = morph.deform(points, progress=lambda d, t: seen.append((d, t)))
shift: npt.NDArray[np.float64] = morph.displacement(points.tolist(), progress=False)
print(morph.power + morph.n_controls, morph.control_points.shape, float((moved - shift).sum()))
reduced = velk_morph.RbfMorph(points, points * 0.01, tolerance=1e-3)
chosen: npt.NDArray[np.int64] = reduced.centres
error: float = reduced.max_error + reduced.correction_radius
reported = velk_morph.RbfMorph(points, points * 0.01, progress=lambda d, t: seen.append((d, t)))
plain = velk_morph.RbfMorph(points, points * 0.01, tolerance=None, progress=False)
'''


def test_a_realistic_script_passes_strict_type_checking(tmp_path):
    pytest.importorskip("mypy")
    script = tmp_path / "morph_job.py"
    script.write_text(STRICT_SCRIPT)
    result = run(tmp_path, "mypy", "--strict", "--no-incremental", str(script))
    assert result.returncode == 0, result.stdout + result.stderr
    bad = tmp_path / "bad.py"
    bad.write_text("import velk_morph\nn: int = velk_morph.cell_quality([[0, 0, 0]], [[0, 0, 0]])\n")
    result = run(tmp_path, "mypy", "--strict", "--no-incremental", str(bad))
    assert "Incompatible types in assignment" in result.stdout
