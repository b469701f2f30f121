"""RbfMorph across threads and processes: the same bits at any pool size, the interpreter lock
released during long calls, Ctrl-C ending them, a sparse fit that fits where a dense one could
not, and the kernel arithmetic's paths (four lanes, one lane, plain) agreeing bit for bit."""

import os
import pathlib
import signal
import subprocess
import sys
import textwrap
import threading
import time

import numpy as np
import pytest

import velk_morph

HERE = pathlib.Path(__file__).parent
SRC = HERE.parent.parent / "src"

DIGEST = """
import hashlib, numpy as np, velk_morph
rng = np.random.default_rng(11)
queries = rng.uniform(-1, 5, (20_000, 3))
h = hashlib.sha256()
for kernel, n, epsilon in [("thin_plate_spline", 700, 1.0), ("gaussian", 300, 0.7),
                           ("wendland_c2", 3000, 1.5), ("wendland_c4", 400, 1.0)]:
    axis = np.linspace(0, 4, round(n ** (1 / 3)))
    grid = np.stack(np.meshgrid(axis, axis, axis, indexing="ij"), -1).reshape(-1, 3)
    controls = grid + rng.uniform(-0.05, 0.05, grid.shape)
    morph = velk_morph.RbfMorph(controls, np.sin(controls), kernel=kernel, epsilon=epsilon,
                                degree=1)
    h.update(morph.displacement(queries).tobytes())
    h.update(morph.__getstate__()[6].tobytes())
print(h.hexdigest())
"""


def run_child(code, **env):
    done = subprocess.run([sys.executable, "-c", code], capture_output=True, text=True,
                          env=dict(os.environ, **env), timeout=600)
    assert done.returncode == 0, done.stderr[-3000:]
    return done.stdout.strip()


def test_bits_are_the_same_at_any_thread_count():
    digests = {threads: run_child(DIGEST, RAYON_NUM_THREADS=threads) for threads in "127"}
    assert len(set(digests.values())) == 1, digests


def test_plain_kernels_give_the_same_bits():
    # The processor-specific four-lane path against the plain one-lane code.
    assert run_child(DIGEST, VELK_PLAIN_KERNELS="1") == run_child(DIGEST)


def test_kernel_paths_agree_and_are_accurate(compile_driver):
    exe = compile_driver(HERE / "rbf_lanes_driver.cpp", [SRC / "core" / "cpu_dispatch.cpp"])
    for env in [{}, {"VELK_PLAIN_KERNELS": "1"}]:
        out = subprocess.run([str(exe)], capture_output=True, text=True,
                             env=dict(os.environ, **env))
        assert out.stdout.strip().endswith("ok"), out.stdout + out.stderr


def test_other_threads_run_during_a_long_displacement():
    rng = np.random.default_rng(0)
    controls = rng.random((2000, 3))
    morph = velk_morph.RbfMorph(controls, rng.normal(size=controls.shape) * 0.01)
    queries = rng.random((400_000, 3))
    ticks = [0]
    stop = threading.Event()

    def count():
        while not stop.is_set():
            ticks[0] += 1
            time.sleep(0.001)

    worker = threading.Thread(target=count)
    worker.start()
    try:
        time.sleep(0.05)
        before = ticks[0]
        morph.displacement(queries)
        during = ticks[0] - before
    finally:
        stop.set()
        worker.join()
    # Holding the lock for the whole call would leave the counter where it was.
    assert during >= 5


INTERRUPTED = """
import numpy as np, sys, time, velk_morph
rng = np.random.default_rng(0)
controls = rng.random((3000, 3))
morph = velk_morph.RbfMorph(controls, rng.normal(size=controls.shape))
queries = rng.random((3_000_000, 3))
before = morph.displacement(controls[:50]).tobytes()
print("ready", flush=True)
try:
    for _ in range(20):
        morph.displacement(queries)
    print("finished", flush=True)
except KeyboardInterrupt:
    print("interrupted", flush=True)
# The morph still works after the interrupted call, with the same bits.
print(morph.displacement(controls[:50]).tobytes() == before)
"""


@pytest.mark.parametrize("threads", ["1", "2"])
def test_ctrl_c_ends_a_long_displacement(threads):
    proc = subprocess.Popen([sys.executable, "-c", INTERRUPTED], stdout=subprocess.PIPE,
                            stderr=subprocess.PIPE, text=True,
                            env=dict(os.environ, RAYON_NUM_THREADS=threads))
    try:
        assert proc.stdout.readline().strip() == "ready"
        time.sleep(0.5)
        proc.send_signal(signal.SIGINT)
        outcome = proc.stdout.readline().strip()
        same = proc.stdout.readline().strip()
        assert proc.wait(timeout=300) == 0, proc.stderr.read()[-2000:]
    finally:
        proc.kill()
    assert (outcome, same) == ("interrupted", "True")


INTERRUPTED_FIT = """
import numpy as np, sys, velk_morph
rng = np.random.default_rng(0)
controls = rng.random((7000, 3))  # a dense fit of many seconds
seen = []
progress = (lambda done, total: seen.append(done)) if sys.argv[1] == "reported" else None
print("ready", flush=True)
try:
    velk_morph.RbfMorph(controls, rng.normal(size=controls.shape), progress=progress)
    print("finished", flush=True)
except KeyboardInterrupt:
    print("interrupted", flush=True)
"""


@pytest.mark.parametrize("progress", ["silent", "reported"])
def test_ctrl_c_ends_a_long_fit_with_or_without_progress(progress):
    proc = subprocess.Popen([sys.executable, "-c", INTERRUPTED_FIT, progress],
                            stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
    try:
        assert proc.stdout.readline().strip() == "ready"
        time.sleep(1.0)
        proc.send_signal(signal.SIGINT)
        outcome = proc.stdout.readline().strip()
        assert proc.wait(timeout=300) == 0, proc.stderr.read()[-2000:]
    finally:
        proc.kill()
    assert outcome == "interrupted"


SPARSE_UNDER_LIMIT = """
import resource, numpy as np, velk_morph
resource.setrlimit(resource.RLIMIT_AS, (3 << 30, 3 << 30))
rng = np.random.default_rng(3)
axis = np.arange(34) * 0.1
grid = np.stack(np.meshgrid(axis, axis, axis, indexing="ij"), -1).reshape(-1, 3)
controls = grid + rng.uniform(-0.02, 0.02, grid.shape)
moved = rng.normal(size=controls.shape)
try:
    velk_morph.RbfMorph(controls, moved, kernel="thin_plate_spline")
    print("dense fitted")
except MemoryError as e:
    print("dense refused")
# About 50 neighbours per control: support radius 0.23 on a 0.1 spacing.
morph = velk_morph.RbfMorph(controls, moved, kernel="wendland_c2", epsilon=1 / 0.23)
print(np.abs(morph.displacement(controls) - moved).max() / np.abs(moved).max())
"""


@pytest.mark.skipif(os.environ.get("VELK_SANITIZED") == "1",
                    reason="the address sanitizer's shadow memory needs more than the limit")
def test_a_compact_fit_of_many_controls_is_sparse():
    # 39,304 controls: a dense matrix would need 12 GB, more than the 3 GiB address space.
    lines = run_child(textwrap.dedent(SPARSE_UNDER_LIMIT)).splitlines()
    assert lines[0] == "dense refused"
    assert float(lines[1]) <= 1e-10


OUT_OF_MEMORY = """
import resource, numpy as np, velk_morph
rng = np.random.default_rng(0)
controls, moves = rng.normal(size=(50, 3)), rng.normal(size=(50, 3))
idw, rbf = velk_morph.IdwMorph(controls, moves), velk_morph.RbfMorph(controls, moves)
points = rng.normal(size=(3_000_000, 3))
with open("/proc/self/status") as status:
    held = next(int(l.split()[1]) for l in status if l.startswith("VmSize:")) << 10
# A few megabytes above what the process holds: the 72 MB result cannot be made.
resource.setrlimit(resource.RLIMIT_AS, (held + (20 << 20), resource.RLIM_INFINITY))
for call in (lambda: idw.displacement(points), lambda: rbf.displacement(points),
             lambda: rbf.jvp(points, moves)):
    try:
        call()
        print("no error")
    except MemoryError as error:
        print(error)
"""


@pytest.mark.skipif(os.environ.get("VELK_SANITIZED") == "1",
                    reason="the address sanitizer's shadow memory needs more than the limit")
def test_running_out_of_memory_in_a_computation_names_the_call():
    suffix = " needs more memory than this process can get"
    assert run_child(textwrap.dedent(OUT_OF_MEMORY)).splitlines() == [
        "IdwMorph.displacement" + suffix, "RbfMorph.displacement" + suffix, "RbfMorph.jvp" + suffix]
