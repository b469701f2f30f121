"""Python conventions: path-like file names, errno-specific OSError subclasses, __version__."""

import errno
import importlib.metadata
import os
import pathlib

import pytest

import velk
from helpers import ALL_NAMES

NODES = [[0.0, 0.0, 0.0], [1.0, 0.0, 0.0], [0.0, 1.0, 0.0]]
CELLS = [[0, 1, 2]]


class Custom(os.PathLike):
    def __init__(self, path):
        self.path = path

    def __fspath__(self):
        return self.path


@pytest.mark.parametrize("wrap", [pathlib.Path, Custom], ids=["pathlib.Path", "custom PathLike"])
def test_every_file_name_accepts_a_path_like(tmp_path, wrap):
    mesh = velk.Mesh(NODES, CELLS)
    for name, write, read in [
        ("a.stl", lambda p: velk.write_stl(NODES, CELLS, p), velk.read_stl),
        ("b.stl", lambda p: mesh.write_stl(p, "ascii"), lambda p: velk.Mesh.from_stl(p).nodes),
        ("c.obj", lambda p: velk.write_obj(NODES, CELLS, p), velk.read_obj),
        ("d.obj", mesh.write_obj, lambda p: velk.Mesh.from_obj(p).cells),
    ]:
        path = wrap(str(tmp_path / name))
        write(path)
        assert read(path) == read(str(tmp_path / name))
    velk.write_vtp(NODES, wrap(str(tmp_path / "e.vtp")))
    mesh.write_vtp(wrap(str(tmp_path / "f.vtp")))
    assert (tmp_path / "e.vtp").read_bytes() == (tmp_path / "f.vtp").read_bytes()


@pytest.mark.parametrize("value, shown", [
    (b"m.stl", "bytes"), (Custom(b"m.stl"), "Custom"), (3, "int"), (Custom(None), None),
])
def test_bytes_and_other_file_names_keep_the_type_error(tmp_path, value, shown):
    with pytest.raises(TypeError) as info:
        velk.read_stl(value)
    if shown:
        assert str(info.value) == f"argument 'filename': '{shown}' object cannot be converted to 'PyString'"
    with pytest.raises(TypeError):
        velk.Mesh.from_stl(value)


@pytest.mark.parametrize("read", [velk.Mesh.from_stl, velk.Mesh.from_obj], ids=["from_stl", "from_obj"])
def test_file_errors_are_the_errno_specific_oserror_with_the_same_text(tmp_path, read):
    missing = tmp_path / "missing"
    with pytest.raises(FileNotFoundError) as info:
        read(str(missing))
    assert info.value.errno == errno.ENOENT
    assert str(info.value) == "🔴 IO error: No such file or directory (os error 2)"
    assert info.value.args == (str(info.value),)
    with pytest.raises(IsADirectoryError) as info:
        read(str(tmp_path))
    assert info.value.errno == errno.EISDIR


def test_malformed_content_stays_a_plain_oserror(tmp_path):
    path = tmp_path / "bad.obj"
    path.write_bytes(b"v 0 0 0\n# caf\xe9\n")
    with pytest.raises(OSError) as info:
        velk.Mesh.from_obj(str(path))
    assert type(info.value) is OSError and info.value.errno is None


def test_version_is_the_installed_distributions():
    assert velk.__version__ == importlib.metadata.version("velk")
    assert "__version__" not in velk.__all__ and len(velk.__all__) == len(ALL_NAMES)
