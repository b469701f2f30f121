"""The installed type stubs describe the module exactly, type checkers find them, and the
examples type-check against them."""

import pathlib
import subprocess
import sys

import pytest

ROOT = pathlib.Path(__file__).resolve().parent.parent


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
