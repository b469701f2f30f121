"""The worker pool under ThreadSanitizer: a small C++ harness (pool_tsan_driver.cpp) runs ordered
maps, nested loops, work alongside the caller, failing blocks, interrupts and files replaced from
several workers; any data race the sanitizer sees fails the test."""

import os
import pathlib
import subprocess

import pytest

HERE = pathlib.Path(__file__).resolve().parent
SRC = HERE.parents[1] / "src"
SOURCES = ["core/worker_pool.cpp", "core/interrupt.cpp", "core/error.cpp", "core/checked_size.cpp",
           "io/file_handle.cpp", "io/atomic_replace.cpp", "io/text_words.cpp"]


@pytest.fixture(scope="module")
def harness(compile_driver):
    if os.environ.get("VELK_SANITIZED") == "1":
        pytest.skip("run in the plain suite: the address sanitizer run preloads its own runtime")
    try:
        return compile_driver(HERE / "pool_tsan_driver.cpp", [SRC / s for s in SOURCES],
                              "-fsanitize=thread", "-g", "-pthread")
    except subprocess.CalledProcessError:
        pytest.skip("no ThreadSanitizer runtime for this compiler")


@pytest.mark.parametrize("threads", ["2", "7"])
def test_the_pool_harness_runs_clean_under_thread_sanitizer(harness, tmp_path, threads):
    env = {k: v for k, v in os.environ.items() if k not in ("LD_PRELOAD", "RAYON_RS_NUM_CPUS")}
    env.update(RAYON_NUM_THREADS=threads, TSAN_OPTIONS="halt_on_error=1:exitcode=66")
    done = subprocess.run([str(harness), str(tmp_path)], capture_output=True, text=True, env=env,
                          timeout=300)
    assert "ThreadSanitizer" not in done.stderr, done.stderr[-4000:]
    assert (done.returncode, done.stdout) == (0, "ok\n"), done.stdout + done.stderr[-2000:]
