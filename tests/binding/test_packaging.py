"""The built module as it is shipped: source locations relative to the source root (no path of
the build machine inside it), and an installed distribution that carries the module, its stubs,
the typing marker and the licence."""

import importlib.metadata
import os
import pathlib
import re
import subprocess
import sys

import pytest

import velk

ROOT = pathlib.Path(__file__).resolve().parent.parent

# An absolute path leading into one of the source folders, as a compiler records it when the
# source root is not mapped away.
ABSOLUTE_SOURCE_PATH = re.compile(rb"/[^\0\n]*?/src/(?:core|py|io|morph|interp)/[\w/]+\.[ch]pp")

# The sanitizers' instrumentation records source files with the compiler's own, unmapped paths.
SANITIZED = os.environ.get("VELK_SANITIZED") == "1"


@pytest.mark.skipif(SANITIZED, reason="sanitizer instrumentation keeps absolute source paths")
def test_module_holds_no_absolute_source_path():
    data = pathlib.Path(velk.__file__).read_bytes()
    found = ABSOLUTE_SOURCE_PATH.findall(data)
    assert found == []
    assert str(ROOT).encode() not in data
    # The locations are there, relative: the internal-failure diagnostic needs them.
    assert re.search(rb"\0src/core/[\w/]+\.cpp\0", data)


@pytest.mark.parametrize("call, folder", [
    ("velk.Mesh([[0, 0, 0]], [[0, 1, 2]]).triangles()", "src/core/"),
    ("velk.generate_icosphere(0.0, (0, 0, 0), 1)", "src/py/"),
])
def test_internal_failure_names_the_source_file_relative_to_the_root(tmp_path, call, folder):
    code = f"import velk\ntry:\n    {call}\nexcept BaseException as error:\n    print(type(error).__name__)\n"
    # The child imports the module this process imported, wherever that came from.
    env = dict(os.environ, PYTHONPATH=os.pathsep.join(
        [str(pathlib.Path(velk.__file__).parent), *filter(None, [os.environ.get("PYTHONPATH")])]))
    result = subprocess.run([sys.executable, "-c", code], capture_output=True, text=True,
                            cwd=tmp_path, env=env)
    assert result.stdout == "PanicException\n"
    where = re.search(r"^velk: internal failure at (.+):(\d+):$", result.stderr, re.MULTILINE)
    assert where, result.stderr
    path, line = where.group(1), int(where.group(2))
    assert path.startswith(folder)
    source = ROOT / path
    if not source.is_file():
        pytest.skip("the source tree is not beside the tests")
    assert 0 < line <= len(source.read_text().splitlines())


def installed_files():
    """Files of the installed velk distribution, when it is the one imported (not a build
    folder on the path)."""
    try:
        dist = importlib.metadata.distribution("velk")
    except importlib.metadata.PackageNotFoundError:
        pytest.skip("velk is not installed")
    files = {str(f): f for f in dist.files or []}
    module = pathlib.Path(velk.__file__).resolve()
    if not any(pathlib.Path(f.locate()).resolve() == module for f in files.values()):
        pytest.skip("the imported velk is not the installed distribution's")
    return dist, files


def test_installed_distribution_carries_current_stubs_and_marker():
    dist, files = installed_files()
    for name in ["velk.pyi", "velk-stubs/__init__.pyi", "velk-stubs/py.typed"]:
        assert name in files
    stubs = ROOT / "velk.pyi"
    if stubs.is_file():
        for name in ["velk.pyi", "velk-stubs/__init__.pyi"]:
            assert files[name].read_text() == stubs.read_text()
    assert files["velk-stubs/py.typed"].read_text() == ""  # complete stubs, not partial
    # The licence travels with the wheel, and the metadata names it.
    assert dist.metadata["License-Expression"] == "MIT"
    assert f"velk-{dist.version}.dist-info/licenses/LICENSE" in files
