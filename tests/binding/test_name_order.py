"""The module's name order and each class's method order must agree with the declared entries:
a name declared but left out of the order, or ordered but declared nowhere, fails the import
with an ImportError naming it. The check itself is plain C++ (src/py/name_order.cpp), compiled
here with a small driver."""

import ast
import pathlib
import subprocess

import pytest

ROOT = pathlib.Path(__file__).resolve().parents[2]
HERE = pathlib.Path(__file__).resolve().parent


@pytest.fixture(scope="module")
def driver(compile_driver):
    return compile_driver(HERE / "name_order_driver.cpp", [ROOT / "src" / "py" / "name_order.cpp"])


def disagreement(driver, what, order, declared):
    result = subprocess.run([str(driver), what, ",".join(order), ",".join(declared)],
                            capture_output=True, text=True, check=True)
    return result.stdout


@pytest.mark.parametrize("what, order, declared, expected", [
    # Agreement does not depend on the order of declaration (the registry keeps names sorted).
    ("module name", ["Mesh", "write_stl", "read_stl"], ["Mesh", "read_stl", "write_stl"], ""),
    ("module name", ["Mesh", "write_stl"], ["Mesh", "read_obj", "write_stl"],
     "velk: 'read_obj' is declared but missing from the module name order"),
    ("module name", ["Mesh", "read_obj", "write_stl"], ["Mesh", "write_stl"],
     "velk: 'read_obj' is in the module name order but nothing declares it"),
    ("Mesh method", ["triangles"], ["cell_normals", "triangles"],
     "velk: 'cell_normals' is declared but missing from the Mesh method order"),
    ("RbfDeformer method", ["deform"], [],
     "velk: 'deform' is in the RbfDeformer method order but nothing declares it"),
    # With both faults, the ordered name is reported first.
    ("module name", ["a", "b"], ["a", "c"],
     "velk: 'b' is in the module name order but nothing declares it"),
])
def test_orders_and_declarations_must_agree(driver, what, order, declared, expected):
    assert disagreement(driver, what, order, declared) == expected


def test_the_module_imports_every_ordered_name():
    """The order is the stub's __all__ (the build derives the module's list and count from it)."""
    import velk

    stub = ast.parse((ROOT / "velk.pyi").read_text())
    ordered = next(ast.literal_eval(node.value) for node in stub.body
                   if isinstance(node, ast.Assign) and node.targets[0].id == "__all__")
    assert velk.__all__ == ordered
    assert all(hasattr(velk, name) for name in ordered)
