"""Ctrl-C against files that never finish: a writer blocked on a FIFO whose reader never reads,
a reader fed from an endless or stalled pipe. The signal comes from this process (velk holds
the interpreter lock, so no thread of the child could send it); every signal must end the call
the first time, and the pool must keep giving the same bytes afterwards. Also: an STL read from
a pipe, where nothing can seek."""

import os
import queue
import signal
import struct
import subprocess
import sys
import threading
import time

import pytest

import velk

ROUNDS = 10
# How long the parent waits for an answer before it calls the child hung (a hang guard only:
# the delays themselves are printed, never asserted).
HANG = 20.0

WRITERS = {
    "write_stl binary": "lambda path: velk.write_stl(mesh.nodes, mesh.cells, path)",
    "write_stl ascii": "lambda path: velk.write_stl(mesh.nodes, mesh.cells, path, 'ascii')",
    "write_obj": "lambda path: velk.write_obj(mesh.nodes, mesh.cells, path)",
    "write_vtp": "lambda path: velk.write_vtp(mesh.nodes, path)",
    "Mesh.write_stl": "lambda path: mesh.write_stl(path)",
}

WRITER_CHILD = """
import os, sys, velk
# Far more than a pipe holds, in every format.
mesh = velk.generate_box([1, 2, 3], [0, 0, 0], [0, 0, 10], [40, 40, 40])
write = {writer}
fifo, folder, rounds = sys.argv[1], sys.argv[2], int(sys.argv[3])
def file_bytes(name):
    write(os.path.join(folder, name))
    with open(os.path.join(folder, name), "rb") as f:
        return f.read()
before = file_bytes("before")
for _ in range(rounds):
    print("ready", flush=True)
    try:
        write(fifo)
        print("finished", flush=True)
    except KeyboardInterrupt:
        print("interrupted", flush=True)
print("same" if file_bytes("after") == before else "changed", flush=True)
"""


def start_child(*args, **kwargs):
    """The child process, its output lines collected by a thread into proc.lines."""
    proc = subprocess.Popen(*args, stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True,
                            **kwargs)
    proc.lines = queue.Queue()
    threading.Thread(target=lambda: [proc.lines.put(line.strip()) for line in proc.stdout],
                     daemon=True).start()
    return proc


def answer(proc):
    """The child's next line, or None when it gives none within HANG seconds."""
    try:
        return proc.lines.get(timeout=HANG)
    except queue.Empty:
        return None


def interrupt_each_round(proc, rounds, settle=0.05):
    """Sends one SIGINT per round once the child is ready; returns its answers and the delays."""
    answers, delays = [], []
    for _ in range(rounds):
        assert answer(proc) == "ready"
        time.sleep(settle)
        sent = time.perf_counter()
        proc.send_signal(signal.SIGINT)
        answers.append(answer(proc))
        delays.append(time.perf_counter() - sent)
        if answers[-1] is None:
            break
    return answers, delays


def child_env(threads=4):
    return dict(os.environ, RAYON_NUM_THREADS=str(threads))


@pytest.mark.parametrize("writer", sorted(WRITERS))
def test_every_ctrl_c_ends_a_writer_blocked_on_a_fifo_nobody_reads(tmp_path, writer):
    fifo = tmp_path / "pipe"
    os.mkfifo(fifo)
    # The reading end stays open and is never read, so the pipe fills and stays full.
    reader = os.open(fifo, os.O_RDONLY | os.O_NONBLOCK)
    script = WRITER_CHILD.format(writer=WRITERS[writer])
    proc = start_child([sys.executable, "-c", script, str(fifo), str(tmp_path), str(ROUNDS)],
                       env=child_env())
    try:
        answers, delays = interrupt_each_round(proc, ROUNDS)
        assert answers == ["interrupted"] * ROUNDS, (answers, delays)
        assert answer(proc) == "same"
        assert proc.wait(timeout=HANG) == 0, proc.stderr.read()[-2000:]
        print(writer, "slowest answer to a signal: %.3f s" % max(delays))
    finally:
        proc.kill()
        os.close(reader)


READER_CHILD = """
import sys, velk
import math
points = [[math.sin(i * 1.7) * 3.0, math.cos(i * 0.9), math.sin(i * i * 0.37)] for i in range(300)]
moved = [[x + 0.3 * math.sin(y), y - 0.1 * z, z + 0.2 * x] for x, y, z in points]
def fit():
    return repr(velk.RbfDeformer(points, moved).deform(points[:50]))
before = fit()
print("ready", flush=True)
try:
    velk.{reader}("/dev/stdin")
    print("finished", flush=True)
except KeyboardInterrupt:
    print("interrupted", flush=True)
# The pool still works after the interrupted read, with the same bits.
print(fit() == before, flush=True)
"""

# What each pipe carries: (reader, shell command that feeds it). The endless ones never stop;
# the stalled ones send a beginning and then nothing, keeping the pipe open.
# More records than the reader takes in one block, so that the stall comes while a block is
# being merged.
BINARY_START = b"\0" * 80 + struct.pack("<I", 100_000) + bytes(50) * 40_000
PIPES = {
    "OBJ, endless": ("read_obj", "yes 'v 1 2 3'"),
    "ASCII STL, endless": ("read_stl", "echo 'solid s'; echo ' facet normal 0 0 1'; yes ' vertex 1 2 3'"),
    "OBJ, stalled": ("read_obj", "printf 'v 1 2 3\\n'; exec sleep 600"),
    "binary STL, stalled": ("read_stl", "cat \"$START\"; exec sleep 600"),
}


@pytest.mark.parametrize("threads", [1, 4])
@pytest.mark.parametrize("case", sorted(PIPES))
def test_ctrl_c_ends_a_reader_fed_from_an_endless_or_stalled_pipe(tmp_path, case, threads):
    reader, feed = PIPES[case]
    start = tmp_path / "start"
    start.write_bytes(BINARY_START)
    source = subprocess.Popen(["sh", "-c", feed], stdout=subprocess.PIPE,
                              env=dict(os.environ, START=str(start)))
    proc = start_child([sys.executable, "-c", READER_CHILD.format(reader=reader)],
                       stdin=source.stdout, env=child_env(threads))
    source.stdout.close()
    try:
        answers, delays = interrupt_each_round(proc, 1, settle=0.3)
        assert answers == ["interrupted"], (answers, delays)
        assert answer(proc) == "True"
        assert proc.wait(timeout=HANG) == 0, proc.stderr.read()[-2000:]
    finally:
        proc.kill()
        source.kill()
        source.wait()


@pytest.mark.parametrize("form", ["binary", "ascii"])
def test_an_stl_reads_from_a_pipe_as_from_its_file(tmp_path, form):
    path = tmp_path / "m.stl"
    velk.generate_icosphere(1.0, [0, 0, 0], 3).write_stl(str(path), form)
    script = "import velk; print(repr(velk.read_stl('/dev/stdin')))"
    with open(path, "rb") as file_bytes:
        # Through cat, so the reader's input is a pipe and not the file itself.
        cat = subprocess.Popen(["cat"], stdin=file_bytes, stdout=subprocess.PIPE)
        done = subprocess.run([sys.executable, "-c", script], stdin=cat.stdout,
                              capture_output=True, text=True, timeout=60)
        cat.stdout.close()
        cat.wait()
    assert done.returncode == 0, done.stderr[-2000:]
    assert done.stdout.strip() == repr(velk.read_stl(str(path)))
