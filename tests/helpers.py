"""Helpers shared by the test folders (conftest.py puts this folder on sys.path): the module's
pinned names, the internal-failure checks, the positional number oracle and the child runner."""

import os
import subprocess
import sys
from decimal import Decimal

import pytest

# The module's 31 names in their fixed order (also __all__): the public surface these tests pin.
ALL_NAMES = [
    "Mesh",
    "select_nodes_closest_to_point",
    "select_nodes_on_line",
    "select_nodes_in_sphere",
    "select_nodes_in_box",
    "select_nodes_closest_to_plane",
    "select_nodes_in_plane_direction",
    "translate_nodes",
    "rotate_nodes",
    "scale_nodes",
    "transform_nodes",
    "transform_selected_nodes",
    "build_transformation_matrix",
    "generate_box",
    "generate_capsule",
    "generate_cone",
    "generate_cylinder",
    "generate_icosphere",
    "generate_naca_wing",
    "generate_torus",
    "generate_uvsphere",
    "generate_block_cluster",
    "generate_sphere_cluster",
    "write_stl",
    "write_vtp",
    "write_obj",
    "read_stl",
    "read_obj",
    "RbfDeformer",
    "DesignBlock",
    "FreeFormDeformer",
]


def is_panic(exc):
    """Whether exc is velk's internal failure: a PanicException, a BaseException but no Exception."""
    return type(exc).__name__ == "PanicException" and not isinstance(exc, Exception)


def panic(call):
    """The PanicException that call() raises (the test fails if it raises anything else)."""
    with pytest.raises(BaseException) as info:
        call()
    assert is_panic(info.value), repr(info.value)
    return info.value


def panic_text(call):
    """The text of the PanicException that call() raises."""
    return panic(call).args[0]


def panic_type():
    """The PanicException class, from one internal failure (a cell naming a missing node)."""
    import velk

    return type(panic(lambda: velk.Mesh([[0, 0, 0]], [[0, 1, 2]]).triangles()))


def raised(call, error, text=None):
    """The exception of type error that call() raises, checking its text when one is given."""
    with pytest.raises(error) as info:
        call()
    if text is not None:
        assert str(info.value) == text
    return info.value


def positional(x):
    """Independent oracle of velk's number text: Python's shortest repr digits laid out without an
    exponent, trailing zeros dropped; NaN and the infinities as velk writes them."""
    x = float(x)
    if x != x:
        return "NaN"
    if x in (float("inf"), float("-inf")):
        return "inf" if x > 0 else "-inf"
    text = format(Decimal(repr(x)), "f")
    return text.rstrip("0").rstrip(".") if "." in text else text


# The switches a child states for itself; a child does not inherit the parent's.
CHILD_SWITCHES = ("RAYON_NUM_THREADS", "RAYON_RS_NUM_CPUS", "VELK_PLAIN_KERNELS",
                  "VELK_REFERENCE_KERNELS")


def run_python(script, *args, timeout=300, check=True, **variables):
    """Runs `python -c script args...` in a fresh interpreter (the pool is sized once per
    process), with the given environment variables set over the parent's less CHILD_SWITCHES,
    and returns the finished process (text output). With check, a failing child fails the test
    with its standard error."""
    env = {k: v for k, v in os.environ.items() if k not in CHILD_SWITCHES}
    env.update((name, str(value)) for name, value in variables.items())
    done = subprocess.run([sys.executable, "-c", script, *map(str, args)], env=env,
                          capture_output=True, text=True, timeout=timeout)
    if check:
        assert done.returncode == 0, done.stderr[-4000:]
    return done
