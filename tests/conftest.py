"""Fixtures shared by the test folders: a small C++ driver compiled against the sources. Plain
helpers shared by the tests are in helpers.py beside this file (this folder is on sys.path)."""

import pathlib
import shutil
import subprocess

import pytest

ROOT = pathlib.Path(__file__).resolve().parents[1]


@pytest.fixture(scope="session")
def compile_driver(tmp_path_factory):
    """compile_driver(driver, sources, *flags) builds the driver file with the given source files
    (and flags, after them) and returns the executable's path; without a C++ compiler the test
    is skipped."""
    compiler = shutil.which("g++") or shutil.which("clang++")

    def build(driver, sources, *flags):
        if compiler is None:
            pytest.skip("no C++ compiler")
        exe = tmp_path_factory.mktemp(pathlib.Path(driver).stem) / "driver"
        subprocess.run([compiler, "-std=c++23", "-O1", f"-I{ROOT / 'src'}", str(driver),
                        *map(str, sources), *flags, "-o", str(exe)], check=True)
        return exe

    return build
