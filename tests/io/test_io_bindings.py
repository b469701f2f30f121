"""The file functions and Mesh file methods: signatures, argument handling, error routes, and
writes that do not depend on the worker pool size."""

import os
import subprocess
import sys

import pytest

import velk
from helpers import is_panic

TRIANGLE = ([[0, 0, 0], [1, 0, 0], [0, 1, 0]], [[0, 1, 2]])


@pytest.mark.parametrize(
    "func, doc",
    [
        (velk.write_stl, "write_stl(nodes, cells, filename=None, format=None)\n--\n\nWrite Ascii stl file"),
        (velk.write_vtp, "write_vtp(nodes, filename=None)\n--\n\nWrite Ascii vtp file"),
        (velk.write_obj, "write_obj(nodes, cells, filename=None)\n--\n\nWrite obj file"),
        (velk.read_stl, "read_stl(filename)\n--\n\nRead stl file"),
        (velk.read_obj, "read_obj(filename)\n--\n\nRead obj file"),
    ],
)
def test_function_documentation(func, doc):
    signature, _, text = doc.partition("\n--\n\n")
    assert func.__text_signature__ == signature[signature.index("("):]
    assert func.__doc__ == text


@pytest.mark.parametrize(
    "name, signature",
    [
        ("from_stl", "($cls, filename)"),
        ("from_obj", "($cls, filename)"),
        ("write_stl", "($self, filename=None, format=None)"),
        ("write_obj", "($self, filename=None)"),
        ("write_vtp", "($self, filename=None)"),
    ],
)
def test_method_documentation(name, signature):
    method = getattr(velk.Mesh, name)
    assert method.__text_signature__ == signature
    assert method.__doc__ is None


def test_file_functions_registered_in_order():
    names = [n for n in velk.__all__ if n in
             {"write_stl", "write_vtp", "write_obj", "read_stl", "read_obj"}]
    assert names == ["write_stl", "write_vtp", "write_obj", "read_stl", "read_obj"]
    assert velk.__all__.index("write_stl") > velk.__all__.index("Mesh")


def test_module_function_round_trip_by_keywords(tmp_path, monkeypatch):
    monkeypatch.chdir(tmp_path)
    assert velk.write_obj(nodes=TRIANGLE[0], cells=TRIANGLE[1]) is None
    assert velk.read_obj(filename="mesh.obj") == (
        [[0.0, 0.0, 0.0], [1.0, 0.0, 0.0], [0.0, 1.0, 0.0]], [[0, 1, 2]])


@pytest.mark.parametrize(
    "call, exc, text",
    [
        (lambda: velk.write_stl([], "abc"), TypeError, "argument 'cells': Can't extract `str` to `Vec`"),
        (lambda: velk.write_stl("abc", []), TypeError, "argument 'nodes': Can't extract `str` to `Vec`"),
        (lambda: velk.write_stl([], [], 5), TypeError,
         "argument 'filename': 'int' object cannot be converted to 'PyString'"),
        (lambda: velk.write_stl([], [], "x.stl", b"ascii"), TypeError,
         "argument 'format': 'bytes' object cannot be converted to 'PyString'"),
        (lambda: velk.read_stl(), TypeError,
         "read_stl() missing 1 required positional argument: 'filename'"),
        (lambda: velk.read_obj(1.5), TypeError,
         "argument 'filename': 'float' object cannot be converted to 'PyString'"),
        (lambda: velk.write_vtp([], None, 1), TypeError,
         "write_vtp() takes from 1 to 2 positional arguments but 3 were given"),
        (lambda: velk.write_obj([], [], name="x"), TypeError,
         "write_obj() got an unexpected keyword argument 'name'"),
        (lambda: velk.Mesh.from_stl(3), TypeError, "'int' object cannot be converted to 'PyString'"),
        (lambda: velk.Mesh.from_obj(), TypeError,
         "Mesh.from_obj() missing 1 required positional argument: 'filename'"),
        (lambda: velk.Mesh(*TRIANGLE).write_stl(1), TypeError,
         "argument 'filename': 'int' object cannot be converted to 'PyString'"),
        (lambda: velk.Mesh(*TRIANGLE).write_obj("a", "b"), TypeError,
         "Mesh.write_obj() takes from 0 to 1 positional arguments but 2 were given"),
    ],
)
def test_argument_failures(call, exc, text):
    with pytest.raises(exc) as e:
        call()
    assert str(e.value) == text


@pytest.mark.parametrize("read", [velk.read_stl, velk.read_obj])
def test_module_readers_report_a_missing_file_as_internal_failure(tmp_path, read):
    with pytest.raises(BaseException) as e:
        read(str(tmp_path / "missing"))
    assert is_panic(e.value)
    assert str(e.value) == (
        "called `Result::unwrap()` on an `Err` value: FileSystem(Os { code: 2, kind: NotFound, "
        f'message: "{os.strerror(2)}" }})')


@pytest.mark.parametrize("method", [velk.Mesh.from_stl, velk.Mesh.from_obj])
def test_class_methods_raise_oserror(tmp_path, method):
    with pytest.raises(OSError) as e:
        method(str(tmp_path / "missing"))
    assert e.value.args == ("🔴 IO error: " + os.strerror(2) + " (os error 2)",)


@pytest.mark.parametrize(
    "write",
    [
        lambda m, name: m.write_stl(name),
        lambda m, name: m.write_stl(name, "ascii"),
        lambda m, name: m.write_obj(name),
        lambda m, name: m.write_vtp(name),
    ],
)
def test_write_methods_report_a_missing_directory_as_internal_failure(tmp_path, write):
    with pytest.raises(BaseException) as e:
        write(velk.Mesh(*TRIANGLE), str(tmp_path / "no" / "such" / "file"))
    assert is_panic(e.value)
    assert "FileSystem(Os { code: 2, kind: NotFound" in str(e.value)


@pytest.mark.parametrize(
    "call",
    [
        lambda: velk.read_stl("a\0b"),
        lambda: velk.read_obj("a\0b"),
        lambda: velk.write_stl(*TRIANGLE, "a\0b"),
        lambda: velk.write_obj(*TRIANGLE, "a\0b"),
        lambda: velk.write_vtp([], "a\0b"),
    ],
)
def test_file_name_with_nul_is_refused(tmp_path, monkeypatch, call):
    monkeypatch.chdir(tmp_path)
    with pytest.raises(BaseException) as e:
        call()
    assert is_panic(e.value)
    assert str(e.value) == (
        "called `Result::unwrap()` on an `Err` value: FileSystem(Custom { kind: InvalidInput, "
        'error: "file name contained an unexpected NUL byte" })')
    assert os.listdir(tmp_path) == []  # no truncated name was created


def test_from_nul_name_raises_oserror():
    with pytest.raises(OSError) as e:
        velk.Mesh.from_obj("x\0.obj")
    assert str(e.value) == "🔴 IO error: file name contained an unexpected NUL byte"


def test_class_methods_return_plain_mesh(tmp_path):
    class Sub(velk.Mesh):
        pass

    path = str(tmp_path / "t.stl")
    Sub(*TRIANGLE).write_stl(path)
    for mesh in (Sub.from_stl(path), Sub(*TRIANGLE).from_stl(path), velk.Mesh.from_stl(path)):
        assert type(mesh) is velk.Mesh
        assert mesh.cells == [[0, 1, 2]]
    velk.Mesh(*TRIANGLE).write_obj(str(tmp_path / "t.obj"))
    assert type(Sub.from_obj(str(tmp_path / "t.obj"))) is velk.Mesh


def test_mesh_methods_match_module_functions(tmp_path, monkeypatch):
    monkeypatch.chdir(tmp_path)
    nodes = [[0.1, 0.2, 0.3], [1, 0, 0], [0, 1, 0], [0, 0, 1]]
    cells = [[0, 1, 2], [0, 2, 3], [1, 3, 2]]
    mesh = velk.Mesh(nodes, cells)
    for fmt in (None, "ascii", "ASCII"):
        mesh.write_stl(format=fmt)
        velk.write_stl(nodes, cells, "f.stl", fmt)
        assert open("mesh.stl", "rb").read() == open("f.stl", "rb").read()
    mesh.write_obj()
    velk.write_obj(nodes, cells, "f.obj")
    assert open("mesh.obj", "rb").read() == open("f.obj", "rb").read()
    assert velk.Mesh.from_obj("mesh.obj").nodes == velk.read_obj("f.obj")[0]


WRITER_SCRIPT = r"""
import hashlib, sys, velk
n = 60
nodes = [[i * 0.1, j / 7.0, (i * j) % 5 - 2.5] for i in range(n) for j in range(n)]
cells = []
for i in range(n - 1):
    for j in range(n - 1):
        a = i * n + j
        cells += [[a, a + 1, a + n], [a + 1, a + n + 1, a + n]]
d = sys.argv[1]
velk.write_stl(nodes, cells, d + "/a.stl", "ascii")
velk.write_stl(nodes, cells, d + "/b.stl")
velk.write_obj(nodes, cells, d + "/c.obj")
velk.write_vtp(nodes, d + "/d.vtp")
for name in ("a.stl", "b.stl", "c.obj", "d.vtp"):
    print(name, hashlib.sha256(open(d + "/" + name, "rb").read()).hexdigest())
"""


def test_writes_identical_with_one_thread(tmp_path):
    outputs = []
    for threads in ("1", None, "4"):  # one thread, the default, more threads than cores
        env = {k: v for k, v in os.environ.items() if not k.startswith("RAYON_")}
        if threads:
            env["RAYON_NUM_THREADS"] = threads
        out_dir = tmp_path / (threads or "many")
        out_dir.mkdir()
        result = subprocess.run([sys.executable, "-c", WRITER_SCRIPT, str(out_dir)],
                                capture_output=True, text=True, env=env, check=True)
        outputs.append(result.stdout)
    assert outputs[0] == outputs[1] == outputs[2]
    assert outputs[0].count("\n") == 4


def test_no_file_handle_survives_a_call(tmp_path):
    if not os.path.isdir("/proc/self/fd"):
        pytest.skip("no /proc/self/fd")
    good = str(tmp_path / "g.stl")
    velk.write_stl(*TRIANGLE, good)
    short = tmp_path / "s.stl"
    short.write_bytes(bytes(90))
    calls = [
        lambda: velk.write_stl(*TRIANGLE, good, "ascii"),
        lambda: velk.write_stl(*TRIANGLE, good),
        lambda: velk.write_obj(*TRIANGLE, str(tmp_path / "g.obj")),
        lambda: velk.write_vtp(TRIANGLE[0], str(tmp_path / "g.vtp")),
        lambda: velk.Mesh.from_stl(good),
        lambda: velk.Mesh.from_obj(str(tmp_path / "g.obj")),
        lambda: velk.Mesh.from_stl(str(short)),
        lambda: velk.Mesh.from_stl(str(tmp_path)),
        lambda: velk.write_stl([[0, 0, 0]], [[0, 0, 9]], good),
        lambda: velk.write_obj(*TRIANGLE, "/dev/full") if os.path.exists("/dev/full") else None,
    ]
    before = len(os.listdir("/proc/self/fd"))
    for _ in range(50):
        for call in calls:
            try:
                call()
            except BaseException as e:  # the failing calls are the point here
                assert isinstance(e, OSError) or type(e).__name__ == "PanicException"
    assert len(os.listdir("/proc/self/fd")) == before
