"""The installed type stubs describe the module exactly, and the examples type-check against
them."""

import pathlib
import subprocess
import sys

import pytest

ROOT = pathlib.Path(__file__).resolve().parent.parent


def run(*args):
    return subprocess.run([sys.executable, "-m", *args], capture_output=True, text=True, cwd=ROOT)


def test_stubs_match_the_runtime_module():
    pytest.importorskip("mypy")
    result = run("mypy.stubtest", "velk")
    assert result.returncode == 0, result.stdout + result.stderr


def test_examples_type_check():
    pytest.importorskip("mypy")
    examples = sorted(str(p) for p in (ROOT / "examples").glob("*.py"))
    result = run("mypy", "--ignore-missing-imports", "--no-incremental", *examples)
    assert result.returncode == 0, result.stdout + result.stderr
