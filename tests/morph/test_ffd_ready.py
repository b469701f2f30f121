"""The deformation's ready callback, through which the Python binding builds the result list
while the pool still deforms the points behind it: every prefix it reports is final and grows
to the whole, the result is the same with or without it, and a callback that throws ends the
call cleanly. Plain C++ (ready_points_driver.cpp) at 1, 2 and 7 worker threads."""

import os
import pathlib
import subprocess

import pytest

ROOT = pathlib.Path(__file__).resolve().parents[2]
HERE = pathlib.Path(__file__).resolve().parent


@pytest.fixture(scope="module")
def driver(compile_driver):
    sources = [p for folder in ("core", "morph", "interp") for p in sorted((ROOT / "src" / folder).glob("*.cpp"))]
    return compile_driver(HERE / "ready_points_driver.cpp", sources, "-ffp-contract=off", "-lpthread")


@pytest.mark.parametrize("threads", [1, 2, 7])
def test_the_ready_callback_reports_final_prefixes_and_a_throw_ends_the_call(driver, threads):
    env = dict(os.environ, RAYON_NUM_THREADS=str(threads))
    done = subprocess.run([str(driver)], capture_output=True, text=True, env=env, timeout=300, check=True)
    lines = done.stdout.splitlines()
    assert [line for line in lines if not line.startswith("ok ")] == []
    assert len(lines) == 7
