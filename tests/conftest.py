"""Fixtures shared by the test folders: a small C++ driver compiled against the sources. Plain
helpers shared by the tests are in helpers.py beside this file (this folder is on sys.path)."""

import pathlib
import shutil
import signal
import subprocess

import pytest

ROOT = pathlib.Path(__file__).resolve().parents[1]

# A suite started in the background by a non-interactive shell inherits SIGINT ignored, and so
# would every child process it starts; the Ctrl-C tests need children that take SIGINT as a
# terminal's Ctrl-C (a handler here becomes the default action in a child).
if signal.getsignal(signal.SIGINT) is signal.SIG_IGN:
    signal.signal(signal.SIGINT, signal.default_int_handler)


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
