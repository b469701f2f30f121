"""Errors that cross process boundaries: the internal-failure exception pickles and reaches a
parent process or a Dask client as itself; interrupts raised while an argument converts pass
unchanged; the module refuses a second initialisation."""

import asyncio
import concurrent.futures
import pickle
import subprocess
import sys
import textwrap

import pytest

import velk


def internal_failure():
    """A PanicException raised by velk (a cell naming a missing node)."""
    velk.Mesh([[0, 0, 0]], [[0, 1, 2]]).triangles()


def caught():
    try:
        internal_failure()
    except BaseException as error:  # noqa: B036 - PanicException is a BaseException
        return error
    raise AssertionError("no internal failure")


def test_panic_exception_pickles_to_the_same_type_and_text():
    error = caught()
    again = pickle.loads(pickle.dumps(error))
    assert type(again) is type(error) and again.args == error.args
    assert type(error).__bases__ == (BaseException,) and not hasattr(velk, "PanicException")


def test_panic_exception_unpickles_in_a_fresh_process_that_never_imported_velk():
    data = pickle.dumps(caught())
    script = "import pickle, sys; e = pickle.loads(sys.stdin.buffer.read()); print(type(e).__name__, e.args[0])"
    done = subprocess.run([sys.executable, "-c", script], input=data, capture_output=True, timeout=60)
    assert done.stdout.decode().strip() == "PanicException index out of bounds: the len is 1 but the index is 1"


def test_process_pool_task_raising_it_gives_it_in_the_parent():
    with concurrent.futures.ProcessPoolExecutor(1) as pool:
        future = pool.submit(internal_failure)
        with pytest.raises(BaseException) as info:
            future.result(timeout=60)
    assert type(info.value) is type(caught())
    assert str(info.value) == "index out of bounds: the len is 1 but the index is 1"


def test_dask_task_raising_it_reaches_an_asynchronous_client_as_that_type():
    distributed = pytest.importorskip("dask.distributed")

    async def main():
        async with distributed.LocalCluster(n_workers=1, threads_per_worker=1, processes=True,
                                            dashboard_address=None, asynchronous=True) as cluster:
            async with distributed.Client(cluster, asynchronous=True) as client:
                future = client.submit(internal_failure, pure=False)
                await distributed.wait(future, timeout=60)
                return await future.exception()

    error = asyncio.run(asyncio.wait_for(main(), 120))
    assert type(error) is type(caught()) and str(error).startswith("index out of bounds")


class Interrupting:
    def __init__(self, exception):
        self.exception = exception

    def __float__(self):
        raise self.exception


POINTS = [[0.0, 0.0, 0.0], [1.0, 0.0, 0.0], [0.0, 1.0, 0.0], [0.0, 0.0, 1.0]]


def entry_points(bad):
    block = velk.DesignBlock([1, 1, 1], [0, 0, 0], [0, 0, 0], [1, 1, 1])
    bad_points = [[bad, 0.0, 0.0]] + POINTS[1:]
    return {
        "RbfDeformer control points": lambda: velk.RbfDeformer(bad_points, POINTS),
        "RbfDeformer moved points": lambda: velk.RbfDeformer(POINTS, bad_points),
        "RbfDeformer.deform": lambda: velk.RbfDeformer(POINTS, POINTS).deform(bad_points),
        "FreeFormDeformer.deform": lambda: velk.FreeFormDeformer(block).deform(bad_points, block.nodes),
        "translate_nodes": lambda: velk.translate_nodes(bad_points, [0, 0, 0]),
        "Mesh": lambda: velk.Mesh(bad_points, []),
        "generate_icosphere": lambda: velk.generate_icosphere(bad, [0, 0, 0], 1),
    }


@pytest.mark.parametrize("exception", [KeyboardInterrupt, SystemExit])
@pytest.mark.parametrize("name", sorted(entry_points(None)))
def test_interrupts_raised_while_converting_propagate_unchanged(name, exception):
    raised = exception("stop")
    with pytest.raises(exception) as info:
        entry_points(Interrupting(raised))[name]()
    assert info.value is raised


def test_a_second_initialisation_after_removing_the_module_is_refused():
    script = textwrap.dedent("""
        import sys, velk
        del sys.modules["velk"]
        try:
            import velk
        except ImportError as error:
            print(error)
    """)
    done = subprocess.run([sys.executable, "-c", script], capture_output=True, text=True, timeout=60)
    assert done.stdout.strip() == "the velk module may only be initialised once per interpreter process"
