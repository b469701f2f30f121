"""The worker pool through its first user, the parallel row update of the dense solve: its size
from the environment, results identical for every thread count, and a working pool in a forked
child. Each case runs in a fresh interpreter, since the pool is sized once per process."""

import json
import os
import pathlib
import subprocess
import textwrap

import pytest

import velk
from helpers import run_python

# A fit with more than 101 control points runs the row updates on the pool. The script prints
# the deformed points (exact float reprs) and the process's thread count after the fit.
FIT = textwrap.dedent("""
    import json, math, os, sys
    if len(sys.argv) > 1:
        os.sched_setaffinity(0, {min(os.sched_getaffinity(0))})
    import velk

    def threads():
        with open("/proc/self/status") as f:
            return next(int(line.split()[1]) for line in f if line.startswith("Threads:"))

    def solve(kernel, epsilon, count=160):
        ctrl = [[math.sin(i * 1.3) * 2.0, math.cos(i * 0.7) * 3.0, math.sin(i * 0.29 + 1.0)]
                for i in range(count)]
        moved = [[x + 0.1 * math.sin(y), y, z + 0.2 * x * z] for x, y, z in ctrl]
        queries = [[math.cos(i * 0.11) * 2.0, math.sin(i * 0.37) * 3.0, 0.5] for i in range(40)]
        return velk.RbfDeformer(ctrl, moved, kernel, epsilon).deform(queries)

    before = threads()
    out = {"before": before,
           "unscaled": repr(solve("gaussian", 0.7)),
           "scaled": repr(solve("multiquadric", 3.0)),
           "threads": threads()}
    print(json.dumps(out))
""")


def run(env_vars, *argv, script=FIT):
    return json.loads(run_python(script, *argv, timeout=120, **env_vars).stdout)


def default_size():
    return len(os.sched_getaffinity(0))


def expected_threads(pool_size):
    # The main thread, plus the pool's threads when it has more than one (a one-thread pool
    # runs everything on the caller and starts no thread).
    return 1 + (pool_size if pool_size > 1 else 0)


@pytest.fixture(scope="module")
def serial():
    return run({"RAYON_NUM_THREADS": "1"})


def test_serial_run_starts_no_thread(serial):
    assert serial["before"] == 1
    assert serial["threads"] == 1


@pytest.mark.parametrize("env,size", [
    ({}, None),
    ({"RAYON_NUM_THREADS": "3"}, 3),
    ({"RAYON_NUM_THREADS": "+2"}, 2),
    ({"RAYON_NUM_THREADS": "0"}, None),
    ({"RAYON_NUM_THREADS": "0", "RAYON_RS_NUM_CPUS": "3"}, None),
    ({"RAYON_NUM_THREADS": "junk"}, None),
    ({"RAYON_NUM_THREADS": "-3"}, None),
    ({"RAYON_NUM_THREADS": ""}, None),
    ({"RAYON_NUM_THREADS": "99999999999999999999999"}, None),
    ({"RAYON_RS_NUM_CPUS": "3"}, 3),
    ({"RAYON_NUM_THREADS": "junk", "RAYON_RS_NUM_CPUS": "4"}, 4),
    ({"RAYON_NUM_THREADS": "2", "RAYON_RS_NUM_CPUS": "4"}, 2),
    ({"RAYON_RS_NUM_CPUS": "0"}, None),
])
def test_pool_size_from_environment_and_identical_results(env, size, serial):
    out = run(env)
    assert out["before"] == 1  # the pool is created on first use
    assert out["threads"] == expected_threads(size or default_size())
    assert out["unscaled"] == serial["unscaled"]
    assert out["scaled"] == serial["scaled"]


def test_default_size_follows_the_affinity_mask(serial):
    out = run({}, "pin-to-one-cpu")
    assert out["threads"] == 1
    assert out["unscaled"] == serial["unscaled"]


FORK = textwrap.dedent("""
    import json, os, sys
    exec(compile(sys.argv[1], "fit", "exec"), globals())  # defines solve(); prints nothing
    results = []
    for warm in (False, True):
        if warm:
            parent = repr(solve("gaussian", 0.7))  # the parent's pool now exists
        read, write = os.pipe()
        pid = os.fork()
        if pid == 0:
            os.close(read)
            os.write(write, repr(solve("gaussian", 0.7)).encode())
            os._exit(0)
        os.close(write)
        chunks = []
        while chunk := os.read(read, 1 << 16):
            chunks.append(chunk)
        _, status = os.waitpid(pid, 0)
        results.append([os.waitstatus_to_exitcode(status), b"".join(chunks).decode()])
    print(json.dumps({"parent": repr(solve("gaussian", 0.7)), "children": results}))
""")


@pytest.mark.parametrize("threads", ["2", "3"])
def test_forked_child_runs_a_parallel_solve(threads, serial):
    fit_without_output = FIT.split("before = threads()")[0]
    proc = run_python(FORK, fit_without_output, timeout=120, RAYON_NUM_THREADS=threads)
    out = json.loads(proc.stdout)
    assert out["parent"] == serial["unscaled"]
    assert out["children"] == [[0, serial["unscaled"]], [0, serial["unscaled"]]]


def test_failure_in_a_parallel_task_surfaces_once_on_the_caller(tmp_path):
    # The STL writer builds its facet records on the pool; cells naming missing nodes make
    # several tasks fail, and the lowest cell's failure is the one reported, exactly once.
    if not hasattr(velk, "write_stl"):
        pytest.skip("no parallel loop that can fail is built yet")
    script = textwrap.dedent("""
        import sys, velk
        nodes = [[float(i), 0.0, 0.0] for i in range(3)]
        cells = [[0, 1, 2]] * 5000
        cells[1200] = [0, 1, 777]
        cells[4000] = [0, 888, 2]
        try:
            velk.write_stl(nodes, cells, sys.argv[1], "ascii")
        except BaseException as e:
            print(type(e).__name__, e.args)
    """)
    target = tmp_path / "out.stl"
    proc = run_python(script, target, timeout=120, check=False, RAYON_NUM_THREADS=2)
    assert proc.stdout.strip() == (
        "PanicException ('index out of bounds: the len is 3 but the index is 777',)")
    assert proc.stderr.count("index out of bounds") == 1
    assert not target.exists()


@pytest.fixture(scope="module")
def pool_driver(compile_driver):
    root = pathlib.Path(__file__).resolve().parents[2]
    sources = [root / "src/core/worker_pool.cpp", root / "src/core/interrupt.cpp"]
    return compile_driver(pathlib.Path(__file__).with_name("pool_driver.cpp"), sources, "-lpthread")


@pytest.mark.parametrize("threads", ["1", "2", "7"])
def test_dynamic_blocks_ordered_hand_over_and_side_by_side_jobs(pool_driver, threads):
    done = subprocess.run([str(pool_driver)], capture_output=True, text=True, timeout=120, check=True,
                          env=dict(os.environ, RAYON_NUM_THREADS=threads))
    lines = done.stdout.splitlines()
    assert [line for line in lines if not line.startswith("ok ")] == []
    assert len(lines) == 4
