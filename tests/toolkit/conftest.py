"""Fixtures of the velk_morph tests."""

import os
import subprocess
import sys

import pytest


@pytest.fixture
def outputs_by_thread_count():
    """outputs_by_thread_count(code) runs the Python code in a child process with
    RAYON_NUM_THREADS = 1, 2 and 7 and returns the set of what it printed (one element when the
    results do not depend on the thread count)."""

    def run(code, counts=("1", "2", "7")):
        outputs = set()
        for threads in counts:
            env = {k: v for k, v in os.environ.items() if not k.startswith("RAYON_")}
            env["RAYON_NUM_THREADS"] = threads
            out = subprocess.run([sys.executable, "-c", code], env=env, capture_output=True,
                                 text=True, timeout=300)
            assert out.returncode == 0, out.stderr
            outputs.add(out.stdout.strip())
        return outputs

    return run


@pytest.fixture
def refusal_without_tqdm():
    """refusal_without_tqdm(call) runs `call` (Python code using velk_morph that asks for
    progress=True) in a child process without tqdm and returns what it printed: the
    ImportError's text, or "no error"."""

    def run(call):
        script = ("import sys, velk_morph; sys.modules['tqdm'] = None\n"
                  f"try:\n    {call}\n    print('no error')\n"
                  "except ImportError as e:\n    print(e)\n")
        out = subprocess.run([sys.executable, "-c", script], capture_output=True, text=True)
        assert out.returncode == 0, out.stderr
        return out.stdout

    return run
