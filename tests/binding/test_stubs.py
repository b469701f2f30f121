"""The installed type stubs describe the module exactly, type checkers find them, and the
examples type-check against them."""

import pathlib
import subprocess
import sys

import pytest

ROOT = pathlib.Path(__file__).resolve().parents[2]


def run(cwd, *args):
    # Outside the source tree, so that the installed stubs are the ones checked.
    return subprocess.run([sys.executable, "-m", *args], capture_output=True, text=True, cwd=cwd)


def test_installed_stubs_match_the_runtime_module(tmp_path):
    pytest.importorskip("mypy")
    result = run(tmp_path, "mypy.stubtest", "velk")
    assert result.returncode == 0, result.stdout + result.stderr


def test_type_checker_uses_the_stubs(tmp_path):
    pytest.importorskip("mypy")
    script = tmp_path / "call.py"
    script.write_text(
        "import velk\n"
        "mesh = velk.generate_icosphere(1.0, (0, 0, 0), 2)\n"
        "reveal_type(mesh.cell_normals())\n"
        "velk.generate_icosphere('one', (0, 0, 0), 2)\n"
    )
    result = run(tmp_path, "mypy", "--no-incremental", str(script))
    assert 'Revealed type is "list[list[float]]"' in result.stdout.replace("builtins.", "")
    assert 'Argument 1 to "generate_icosphere" has incompatible type "str"' in result.stdout


def test_examples_type_check(tmp_path):
    pytest.importorskip("mypy")
    examples = sorted(str(p) for p in (ROOT / "examples").glob("*.py"))
    result = run(tmp_path, "mypy", "--ignore-missing-imports", "--no-incremental", *examples)
    assert result.returncode == 0, result.stdout + result.stderr


STRICT_GOOD = '''
import pathlib

import numpy as np
import velk

nodes = np.zeros((4, 3))
cells = np.array([[0, 1, 2], [0, 2, 3]], dtype=np.int64)
mesh = velk.Mesh(nodes, cells)
mesh.nodes = velk.translate_nodes(nodes, np.array([1.0, 0.0, 0.0]))
out = pathlib.Path("out")
mesh.write_stl(out / "m.stl", "ascii")
velk.write_obj(nodes, cells, out / "m.obj")
again: velk.Mesh = velk.Mesh.from_stl(out / "m.stl")
read_nodes, read_cells = velk.read_stl(out / "m.stl")
ids: list[int] = velk.select_nodes_in_sphere(nodes, 1.0, [0, 0, 0])
block = velk.DesignBlock([1, 1, 1], [0, 0, 0], [0, 0, 0], [2, 2, 2])
moved = block.transform_subset(np.array(ids, dtype=np.int64), velk.build_transformation_matrix(
    [0, 0, 1], [0, 0, 0], [1, 1, 1]), [0, 0, 0])
deformed: list[list[float]] = velk.FreeFormDeformer(block).deform(nodes, moved)
rbf = velk.RbfDeformer(nodes, nodes, "thin_plate_spline", 1.0)
version: str = velk.__version__
'''

STRICT_BAD = '''
import velk

velk.translate_nodes("abc", [0, 0, 0])
velk.RbfDeformer([[0, 0, 0]], [[0, 0, 0]], "gauss")
velk.read_stl(b"m.stl")
'''


def test_stubs_take_arrays_and_paths_under_strict_checking(tmp_path):
    pytest.importorskip("mypy")
    pytest.importorskip("numpy")
    good, bad = tmp_path / "good.py", tmp_path / "bad.py"
    good.write_text(STRICT_GOOD)
    bad.write_text(STRICT_BAD)
    result = run(tmp_path, "mypy", "--strict", "--no-incremental", str(good))
    assert result.returncode == 0, result.stdout + result.stderr
    result = run(tmp_path, "mypy", "--strict", "--no-incremental", str(bad))
    assert 'Argument 1 to "translate_nodes" has incompatible type "str"' in result.stdout
    assert 'Argument 3 to "RbfDeformer" has incompatible type "Literal[\'gauss\']"' in result.stdout
    assert 'Argument 1 to "read_stl" has incompatible type "bytes"' in result.stdout


def test_every_public_name_of_the_stub_has_a_docstring_with_an_example():
    """The stub is the manual an editor shows: each module name and each public method documents
    itself (the runtime docstrings are fixed and terse)."""
    import ast

    stub = ast.parse((ROOT / "velk.pyi").read_text(encoding="utf-8"))
    defined = {node.name: node for node in stub.body if isinstance(node, (ast.FunctionDef, ast.ClassDef))}
    exported = next(ast.literal_eval(node.value) for node in stub.body
                    if isinstance(node, ast.Assign) and node.targets[0].id == "__all__")
    undocumented = [name for name in exported if "Example:" not in (ast.get_docstring(defined[name]) or "")]
    methods = [f"{cls.name}.{node.name}" for cls in defined.values() if isinstance(cls, ast.ClassDef)
               for node in cls.body if isinstance(node, ast.FunctionDef) and not node.name.startswith("_")
               and not any(isinstance(d, ast.Attribute) and d.attr == "setter" for d in node.decorator_list)
               and not ast.get_docstring(node)]
    assert undocumented == [] and methods == []
