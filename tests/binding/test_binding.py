"""Argument binding, conversion and the exception routes, seen through the module's entry points."""

import importlib.util
import subprocess
import sys

import pytest

import velk
from helpers import ALL_NAMES


def test_all_lists_the_registered_names_in_order():
    registered = [name for name in ALL_NAMES if hasattr(velk, name)]
    assert velk.__all__ == registered == ALL_NAMES


def test_module_is_initialised_once_per_process():
    spec = importlib.util.spec_from_file_location("elsewhere.velk", velk.__file__)
    with pytest.raises(ImportError):
        importlib.util.module_from_spec(spec)


def test_import_is_warning_free_from_any_directory(tmp_path):
    result = subprocess.run(
        [sys.executable, "-W", "error", "-c", "import velk; print(velk.Mesh.__module__)"],
        cwd=tmp_path,
        capture_output=True,
        text=True,
    )
    assert result.returncode == 0, result.stderr
    assert result.stdout.strip() == "builtins"


@pytest.mark.parametrize(
    "nodes, cells, error, text, cause",
    [
        ("abc", [], TypeError, "argument 'nodes': Can't extract `str` to `Vec`", True),
        (5, [], TypeError, "argument 'nodes': 'int' object cannot be converted to 'Sequence'", True),
        ({}, [], TypeError, "argument 'nodes': 'dict' object cannot be converted to 'Sequence'", True),
        ([[0, 0]], [], ValueError, "expected a sequence of length 3 (got 2)", False),
        ([[0, 0, "a"]], [], TypeError, "argument 'nodes': must be real number, not str", True),
        ([], [[0, 1, -2]], OverflowError, "can't convert negative int to unsigned", False),
        ([], [[0, 1, 2.0]], TypeError,
         "argument 'cells': 'float' object cannot be interpreted as an integer", True),
        ([], [[0, 1, 2 ** 64]], OverflowError, None, False),
    ],
)
def test_conversion_failures_name_the_argument_only_for_type_errors(nodes, cells, error, text, cause):
    with pytest.raises(error) as info:
        velk.Mesh(nodes, cells)
    assert type(info.value) is error
    if text is not None:
        assert str(info.value) == text
    if cause:
        assert type(info.value.__cause__) is TypeError
        assert text.endswith(str(info.value.__cause__))
    else:
        assert info.value.__cause__ is None


def test_a_str_item_is_a_sequence_of_the_wrong_length():
    # A str passes the sequence check of a point; its length decides.
    with pytest.raises(ValueError, match=r"^expected a sequence of length 3 \(got 2\)$"):
        velk.Mesh(["ab"], [])
    with pytest.raises(TypeError, match="^argument 'nodes': must be real number, not str$"):
        velk.Mesh(["abc"], [])


def test_sequence_kinds_are_accepted():
    expected = [[0.0, 0.0, 0.0], [1.0, 0.0, 0.0], [0.0, 1.0, 0.0]]
    for nodes in (((0, 0, 0), (1, 0, 0), (0, 1, 0)), [(0, 0, 0), (1, 0, 0), (0, 1, 0)],
                  [[False, 0, 0], [True, 0.0, 0], [0, 1, 0]]):
        assert velk.Mesh(nodes, ((0, 1, 2),)).nodes == expected


def test_numpy_arrays_are_accepted():
    np = pytest.importorskip("numpy")
    nodes = np.array([[0.0, 0.0, 0.0], [1.0, 0.0, 0.0], [0.0, 1.0, 0.0]])
    cells = np.array([[0, 1, 2]], dtype=np.int64)
    mesh = velk.Mesh(nodes, cells)
    assert mesh.nodes == nodes.tolist() and mesh.cells == [[0, 1, 2]]
    assert velk.Mesh(nodes.astype(np.float32), cells.astype(np.uint32)).cell_normals() == [[0, 0, 1]]
    with pytest.raises(TypeError, match="cannot be interpreted as an integer"):
        velk.Mesh(nodes, cells.astype(float))


def test_items_are_taken_by_iteration():
    class Nodes:
        def __len__(self):
            raise RuntimeError("length is only a hint")

        def __getitem__(self, i):
            if i >= 2:
                raise IndexError
            return (i, i, i)

    assert velk.Mesh(Nodes(), []).nodes == [[0.0, 0.0, 0.0], [1.0, 1.0, 1.0]]


def test_iteration_failure_propagates():
    class Broken:
        def __len__(self):
            return 3

        def __getitem__(self, i):
            if i == 1:
                raise KeyError("boom")
            return (0, 0, 0)

    with pytest.raises(KeyError):
        velk.Mesh(Broken(), [])


@pytest.mark.parametrize(
    "args, kwargs, text",
    [
        ((), {}, "Mesh.__new__() missing 2 required positional arguments: 'nodes' and 'cells'"),
        (([],), {}, "Mesh.__new__() missing 1 required positional argument: 'cells'"),
        (([], [], []), {}, "Mesh.__new__() takes 2 positional arguments but 3 were given"),
        (([],), {"nodes": []}, "Mesh.__new__() got multiple values for argument 'nodes'"),
        (([], []), {"colour": 1}, "Mesh.__new__() got an unexpected keyword argument 'colour'"),
    ],
)
def test_binding_failures(args, kwargs, text):
    with pytest.raises(TypeError) as info:
        velk.Mesh(*args, **kwargs)
    assert str(info.value) == text


def test_keywords_bind_in_any_order():
    mesh = velk.Mesh(cells=[[0, 1, 2]], nodes=[[0, 0, 0], [1, 0, 0], [0, 1, 0]])
    assert mesh.cell_normals() == [[0.0, 0.0, 1.0]]
    assert repr(velk.Mesh(nodes=[], cells=[])).count("0") == 2


def test_none_is_not_a_value_for_required_parameters():
    with pytest.raises(TypeError, match="^argument 'nodes': 'NoneType' object cannot be converted"):
        velk.Mesh(None, [])


def test_receiver_is_checked():
    with pytest.raises(TypeError):
        velk.Mesh.triangles(5)


def test_failure_texts_reach_stderr_only_for_internal_failures(tmp_path):
    code = (
        "import velk\n"
        "try:\n"
        "    velk.Mesh([], [[0, 0, 0]]).triangles()\n"
        "except BaseException as e:\n"
        "    print(type(e).__name__)\n"
    )
    result = subprocess.run([sys.executable, "-c", code], capture_output=True, text=True)
    assert result.stdout.strip() == "PanicException"
    assert "index out of bounds: the len is 0 but the index is 0" in result.stderr


def test_numpy_fast_path_matches_the_generic_path():
    np = pytest.importorskip("numpy")
    rng = np.random.default_rng(7)
    nodes = rng.standard_normal((200, 3))
    nodes[0] = [np.nan, -0.0, np.inf]
    cells = rng.integers(0, 200, (50, 3))
    fast = velk.Mesh(nodes, cells)
    generic = velk.Mesh(nodes.tolist(), cells.tolist())
    assert repr(fast.nodes) == repr(generic.nodes)
    assert fast.cells == generic.cells
    # Unusual layouts and dtypes take the generic path with its errors.
    assert velk.Mesh(nodes[::2], cells[:, ::-1]).cells == cells[:, ::-1].tolist()
    assert repr(velk.Mesh(np.asfortranarray(nodes), cells).nodes) == repr(generic.nodes)
    with pytest.raises(OverflowError, match="can't convert negative int to unsigned"):
        velk.Mesh(nodes, -cells - 1)
    with pytest.raises(ValueError, match=r"expected a sequence of length 3 \(got 2\)"):
        velk.Mesh(nodes[:, :2], cells)
    assert velk.Mesh(np.zeros((0, 2)), np.zeros((0, 3), dtype=np.uint64)).nodes == []


def test_only_the_module_entry_is_exported():
    import shutil

    nm = shutil.which("nm")
    if nm is None:
        pytest.skip("nm is not available")
    listing = subprocess.run(
        [nm, "-D", "--defined-only", velk.__file__], capture_output=True, text=True, check=True
    ).stdout
    exported = [line.split()[-1] for line in listing.splitlines() if line.strip()]
    assert exported == ["PyInit_velk"]


@pytest.mark.filterwarnings("ignore::PendingDeprecationWarning")
def test_buffer_providers_the_generic_path_refuses_are_refused():
    np = pytest.importorskip("numpy")
    import pickle

    nodes = np.zeros((2, 3))
    # Not a sequence at all.
    with pytest.raises(TypeError, match="^argument 'nodes': 'PickleBuffer' object cannot be"):
        velk.translate_nodes(pickle.PickleBuffer(nodes), [0, 0, 0])
    # Iteration over a two-dimensional memoryview is not implemented by the interpreter.
    with pytest.raises(NotImplementedError):
        velk.translate_nodes(memoryview(nodes), [0, 0, 0])
    # A subclass whose rows iterate as 1 by 3 matrices.
    with pytest.raises(ValueError, match=r"^expected a sequence of length 3 \(got 1\)$"):
        velk.translate_nodes(np.matrix(nodes), [0, 0, 0])
    with pytest.raises(ValueError, match=r"^expected a sequence of length 3 \(got 1\)$"):
        velk.Mesh([], np.matrix([[0, 1, 2]], dtype=np.int64))
