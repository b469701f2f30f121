"""Building result lists and reading argument lists at the Python boundary: the collector's
state is the caller's after every call, results stay ordinary collectable objects, and the fast
reading of exact lists, tuples, floats and ints gives what the generic sequence path gives.
The interpreter's arena allocator, wrapped while a result is built, is its own again after."""

import ctypes
import gc
import os
import subprocess
import sys
import textwrap
import weakref

import pytest

import velk

SQUARE = velk.Mesh([[0, 0, 0], [1, 0, 0], [1, 1, 0], [0, 1, 0]], [[0, 1, 2], [0, 2, 3]])

# One call of every kind of large-result builder.
CALLS = {
    "node list": lambda: velk.translate_nodes([[1.0, 2.0, 3.0]] * 5, [0, 0, 1]),
    "index list": lambda: velk.select_nodes_in_sphere([[0, 0, 0], [5, 5, 5]], 1.0, [0, 0, 0]),
    "nodes getter": lambda: SQUARE.nodes,
    "cells getter": lambda: SQUARE.cells,
    "corner triples": lambda: SQUARE.triangles(),
    "cell normals": lambda: SQUARE.cell_normals(),
    "slice points": lambda: SQUARE.slice_from_plane([0.5, 0, 0], [1, 0, 0]),
    "cluster": lambda: velk.generate_block_cluster([1, 1, 1], [0, 0, 0], [0, 0, 0], [2, 2, 2]),
    "file tuple": None,  # filled in by the test, it needs a path
    "failing call": lambda: velk.translate_nodes([[1, 2]], [0, 0, 0]),
}


class ArenaAllocator(ctypes.Structure):
    _fields_ = [("ctx", ctypes.c_void_p), ("alloc", ctypes.c_void_p), ("free", ctypes.c_void_p)]


def arena_allocator():
    """The interpreter's arena allocator as (ctx, alloc, free) addresses."""
    found = ArenaAllocator()
    ctypes.pythonapi.PyObject_GetArenaAllocator(ctypes.byref(found))
    return found.ctx, found.alloc, found.free


# The start of the child scripts below: their imports and the same allocator reading.
CHILD_PRELUDE = textwrap.dedent("""
    import ctypes, gc, resource, numpy, velk
    def arena_allocator():
        found = (ctypes.c_void_p * 3)()
        ctypes.pythonapi.PyObject_GetArenaAllocator(found)
        return list(found)
""")


@pytest.mark.parametrize("enabled", [True, False], ids=["collector on", "collector off"])
@pytest.mark.parametrize("kind", sorted(CALLS))
def test_collector_state_is_the_callers_after_every_kind_of_call(kind, enabled, tmp_path):
    call = CALLS[kind]
    if call is None:
        path = str(tmp_path / "square.stl")
        SQUARE.write_stl(path)
        call = lambda: velk.read_stl(path)  # noqa: E731
    was, allocator = gc.isenabled(), arena_allocator()
    try:
        gc.enable() if enabled else gc.disable()
        try:
            call()
        except ValueError:
            assert kind == "failing call"
        assert gc.isenabled() is enabled
        assert arena_allocator() == allocator
    finally:
        gc.enable() if was else gc.disable()


@pytest.mark.skipif(os.environ.get("VELK_SANITIZED") == "1",
                    reason="an address-space limit leaves no room for the sanitizer's shadow memory")
@pytest.mark.parametrize("enabled", [True, False], ids=["collector on", "collector off"])
def test_collector_state_is_restored_after_a_memory_error_half_way_through_a_build(enabled):
    # The mesh's own nodes fit under the address-space limit; the Python list of them does not,
    # so the getter fails while it allocates its items.
    script = CHILD_PRELUDE + textwrap.dedent(f"""
        allocator = arena_allocator()
        mesh = velk.Mesh(numpy.zeros((4_000_000, 3)), numpy.zeros((0, 3), dtype=numpy.int64))
        {'gc.enable()' if enabled else 'gc.disable()'}
        with open("/proc/self/status") as status:
            vm = next(int(l.split()[1]) for l in status if l.startswith("VmSize:")) * 1024
        resource.setrlimit(resource.RLIMIT_AS, (vm + 200 * 2**20, resource.RLIM_INFINITY))
        try:
            mesh.nodes
        except MemoryError:
            print("MemoryError", gc.isenabled(), arena_allocator() == allocator)
        else:
            print("no failure")
    """)
    done = subprocess.run([sys.executable, "-c", script], capture_output=True, text=True, timeout=120)
    assert done.stdout.split() == ["MemoryError", str(enabled), "True"], done.stderr


@pytest.mark.skipif(os.environ.get("VELK_SANITIZED") == "1",
                    reason="an address-space limit leaves no room for the sanitizer's shadow memory")
def test_a_deformation_whose_list_is_refused_while_the_pool_works_fails_cleanly():
    # The result list is made on the first news from the pool, which still deforms the points
    # behind it; the list's memory check fails there, stops the workers, reaches the caller as
    # the usual MemoryError, and leaves the pool, the collector and the arena allocator as they
    # were.
    script = CHILD_PRELUDE + textwrap.dedent("""
        block = velk.DesignBlock([1, 1, 1], [0, 0, 0], [0, 0, 0], [4, 4, 4])
        moved = [[x + 0.01, y, z] for x, y, z in block.nodes]
        deformer = velk.FreeFormDeformer(block)
        points = numpy.random.default_rng(1).uniform(-0.49, 0.49, (4_000_000, 3))
        small = deformer.deform(points[:1000], moved)
        allocator = arena_allocator()
        with open("/proc/self/status") as status:
            vm = next(int(l.split()[1]) for l in status if l.startswith("VmSize:")) * 1024
        resource.setrlimit(resource.RLIMIT_AS, (vm + 300 * 2**20, resource.RLIM_INFINITY))
        try:
            deformer.deform(points, moved)
        except MemoryError as error:
            print("MemoryError", str(error).startswith("a result of 4000000 nodes needs "),
                  gc.isenabled(), arena_allocator() == allocator)
        else:
            print("no failure")
        resource.setrlimit(resource.RLIMIT_AS, (resource.RLIM_INFINITY, resource.RLIM_INFINITY))
        print(deformer.deform(points[:1000], moved) == small)
    """)
    env = dict(os.environ, RAYON_NUM_THREADS="2")
    done = subprocess.run([sys.executable, "-c", script], capture_output=True, text=True, timeout=120,
                          env=env)
    assert done.stdout.split() == ["MemoryError"] + ["True"] * 4, (done.stdout, done.stderr)


@pytest.mark.parametrize("make", [
    lambda: velk.translate_nodes([[1, 2, 3], [4, 5, 6]], [0, 0, 0]),
    lambda: SQUARE.cells,
    lambda: SQUARE.triangles(),
    lambda: SQUARE.nodes,
], ids=["node list", "cells", "corner triples", "nodes"])
def test_a_result_list_is_tracked_and_a_cycle_through_it_is_collected(make):
    class Holder:
        pass

    result = make()
    assert gc.is_tracked(result) and all(gc.is_tracked(row) for row in result)
    holder = Holder()
    holder.result = result
    result.append(holder)
    result[0].append(result)
    alive = weakref.ref(holder)
    del holder, result
    gc.collect()
    assert alive() is None


class Tracked(float):
    """A float subclass: read through the generic number protocol."""


class Floaty:
    def __init__(self, value):
        self.value = value

    def __float__(self):
        return self.value


class Sub(list):
    """A list subclass takes the generic sequence path: the reference behaviour."""


def outcome(call):
    try:
        result = call()
    except Exception as error:  # noqa: BLE001 - the outcome is compared, whatever it is
        return ("raises", type(error), str(error), type(error.__cause__), str(error.__cause__))
    return ("returns", result, [[type(v) for v in row] for row in result])


def generic(rows):
    return Sub(Sub(row) if isinstance(row, (list, tuple)) else row for row in rows)


NODE_INPUTS = {
    "floats": [[0.1, -2.5, 3e300], [float("inf"), -0.0, float("nan")]],
    "tuples": [(1.5, 2.5, 3.5), (4.0, 5.0, 6.0)],
    "ints and bools": [[1, 2, 3], [True, 2**60, -7]],
    "float subclass": [[Tracked(1.25), 2.0, 3.0]],
    "__float__ objects": [[Floaty(1.0), Floaty(2.0), 3.0]],
    "short point": [[1.0, 2.0]],
    "long point": [(1.0, 2.0, 3.0, 4.0)],
    "string item": [[1.0, "2", 3.0]],
    "None item": [[1.0, 2.0, 3.0], None],
    "str point": ["abc"],
    "__float__ raising": [[Floaty(None), 1.0, 2.0]],
    "empty": [],
}


@pytest.mark.parametrize("name", sorted(NODE_INPUTS))
def test_exact_lists_and_tuples_read_as_the_generic_path_reads_them(name):
    rows = NODE_INPUTS[name]
    fast = outcome(lambda: velk.translate_nodes(rows, [0, 0, 0]))
    slow = outcome(lambda: velk.translate_nodes(generic(rows), [0, 0, 0]))
    assert repr(fast) == repr(slow)
    if fast[0] == "returns":
        assert repr(fast) == repr(outcome(lambda: velk.translate_nodes(tuple(rows), [0, 0, 0])))


CELL_INPUTS = {
    "ints": [[0, 1, 2], [2**63, 5, 7]],
    "bools": [[True, False, True]],
    "negative": [[0, -1, 2]],
    "too large": [[0, 1, 2**64]],
    "float": [[0, 1.0, 2]],
    "tuples": [(0, 1, 2), (3, 4, 5)],
}


@pytest.mark.parametrize("name", sorted(CELL_INPUTS))
def test_exact_int_items_read_as_the_generic_path_reads_them(name):
    rows = CELL_INPUTS[name]
    nodes = [[0.0, 0.0, 0.0]]

    def cells(value):
        return outcome(lambda: velk.Mesh(nodes, value).cells)

    assert repr(cells(rows)) == repr(cells(generic(rows)))
    ids = [row[0] for row in rows]
    block = velk.DesignBlock([1, 1, 1], [0, 0, 0], [0, 0, 0], [1, 1, 1])
    identity = [[1, 0, 0, 0], [0, 1, 0, 0], [0, 0, 1, 0], [0, 0, 0, 1]]
    fast = outcome(lambda: block.transform_subset(ids, identity, [0, 0, 0]))
    slow = outcome(lambda: block.transform_subset(Sub(ids), identity, [0, 0, 0]))
    assert repr(fast) == repr(slow)


@pytest.mark.parametrize("wrap", [list, Sub], ids=["exact list", "list subclass"])
def test_a_conversion_that_empties_the_outer_list_stops_the_reading_alike(wrap):
    rows = wrap()

    class Clearing:
        def __float__(self):
            rows.clear()
            return 9.0

    rows.extend([[Clearing(), 1.0, 2.0], [3.0, 4.0, 5.0]])
    assert velk.translate_nodes(rows, [0, 0, 0]) == [[9.0, 1.0, 2.0]]


@pytest.mark.parametrize("wrap", [list, Sub], ids=["exact list", "list subclass"])
def test_a_conversion_that_shortens_its_point_fails_alike(wrap):
    point = wrap()

    class Shrinking:
        def __float__(self):
            point.pop()
            return 1.0

    point.extend([Shrinking(), 2.0, 3.0])
    with pytest.raises(IndexError, match="list index out of range"):
        velk.translate_nodes([point], [0, 0, 0])
