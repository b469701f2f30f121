"""Ctrl-C ends long calls promptly: a SIGINT sent 0.3 s into the call raises KeyboardInterrupt
within 0.5 s, and the next call of the same kind gives the same bits as in a fresh process."""

import os
import signal
import subprocess
import sys
import textwrap
import time

import pytest

# Each case: set-up code, the long call, and a short call of the same kind whose result is
# hashed. The child prints the seconds from the signal to the KeyboardInterrupt, then the hash.
CASES = {
    # Several calls, so that the signal lands inside one however fast the machine is.
    "icosphere": ("", "for _ in range(8): velk.generate_icosphere(1.0, [0, 0, 0], 10)",
                  "velk.generate_icosphere(1.0, [0, 0, 0], 5).nodes"),
    "ffd": ("""
        import numpy
        block = velk.DesignBlock([2, 2, 2], [0, 0, 0], [0, 0, 0], [9, 9, 9])
        moved = (numpy.array(block.nodes) * 1.01).tolist()
        points = numpy.random.default_rng(1).uniform(-0.9, 0.9, (2_000_000, 3))
        deformer = velk.FreeFormDeformer(block)
        def work():
            for _ in range(50):
                deformer.deform(points, moved)
        """, "work()", "deformer.deform(points[:5000], moved)"),
    "rbf fit": ("""
        import random
        rng = random.Random(3)
        points = [[rng.uniform(-1, 1) for _ in range(3)] for _ in range(5000)]
        moved = [[x * 1.1, y, z + 0.1 * x] for x, y, z in points]
        """, "velk.RbfDeformer(points, moved)",
        "velk.RbfDeformer(points[:300], moved[:300]).deform(points[:50])"),
    "sphere cluster": ("", "for _ in range(20): velk.generate_sphere_cluster(1.0, [0, 0, 0], 200)",
                       "velk.generate_sphere_cluster(1.0, [0, 0, 0], 20)"),
    "idw morph": ("""
        import numpy, velk_morph
        rng = numpy.random.default_rng(4)
        morph = velk_morph.IdwMorph(rng.normal(size=(5000, 3)), rng.normal(size=(5000, 3)))
        points = rng.normal(size=(2_000_000, 3))
        """, "morph.deform(points, progress=lambda done, total: None)",
        "morph.deform(points[:2000]).tolist()"),
    # A FIFO nobody writes blocks the reader's open; one nobody reads blocks the writer's.
    "fifo read": ("""
        import tempfile
        fifo = os.path.join(tempfile.mkdtemp(), "pipe")
        os.mkfifo(fifo)
        """, "velk.read_obj(fifo)", "velk.generate_box([1, 1, 1], [0, 0, 0], [0, 0, 0], [2, 2, 2]).nodes"),
    "fifo write": ("""
        import tempfile
        fifo = os.path.join(tempfile.mkdtemp(), "pipe")
        os.mkfifo(fifo)
        """, "velk.write_obj([[0, 0, 0]], [], fifo)", "velk.generate_box([1, 1, 1], [0, 0, 0], [0, 0, 0], [2, 2, 2]).nodes"),
}

CHILD = """
import hashlib, os, sys, time, velk
{setup}
def short():
    return hashlib.sha256(repr({short}).encode()).hexdigest()
if os.environ.get("ONLY_SHORT"):
    print(short())
    raise SystemExit
print("ready", flush=True)
try:
    {long}
    print("finished", flush=True)
except KeyboardInterrupt:
    print("interrupted", time.perf_counter(), flush=True)
print(short(), flush=True)
"""


def child(name, threads, only_short=False):
    """The seconds from the SIGINT to the child's KeyboardInterrupt (the signal comes from
    this process: velk holds the interpreter lock, so no thread of the child could send it
    during the call) and the hash of the short call after it."""
    setup, long, short = CASES[name]
    script = CHILD.format(setup=textwrap.dedent(setup), long=long, short=short)
    env = dict(os.environ, RAYON_NUM_THREADS=str(threads))
    if only_short:
        env["ONLY_SHORT"] = "1"
        done = subprocess.run([sys.executable, "-c", script], capture_output=True, text=True,
                              env=env, timeout=120)
        assert done.returncode == 0, done.stderr[-2000:]
        return done.stdout.split()
    proc = subprocess.Popen([sys.executable, "-c", script], stdout=subprocess.PIPE,
                            stderr=subprocess.PIPE, text=True, env=env)
    try:
        assert proc.stdout.readline().strip() == "ready"
        time.sleep(0.3)
        sent = time.perf_counter()
        proc.send_signal(signal.SIGINT)
        outcome = proc.stdout.readline().split()
        delay = time.perf_counter() - sent
        digest = proc.stdout.readline().strip()
        assert proc.wait(timeout=120) == 0, proc.stderr.read()[-2000:]
    finally:
        proc.kill()
    assert outcome and outcome[0] == "interrupted", outcome
    return delay, digest


@pytest.mark.skipif(os.environ.get("VELK_SANITIZED") == "1", reason="timings under the sanitizer")
@pytest.mark.parametrize("threads", [1, 2])
@pytest.mark.parametrize("name", sorted(CASES))
def test_sigint_ends_a_long_call_promptly_and_the_next_call_is_unchanged(name, threads):
    delay, digest = child(name, threads)
    assert delay < 0.5
    assert [digest] == child(name, threads, only_short=True)
