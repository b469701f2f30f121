"""with_constant, the choice of a compile-time constant that the kernel dispatch of velk and
velk_morph shares (plain C++, constant_dispatch_driver.cpp: most checks are static assertions, so
a fault fails the build)."""

import pathlib
import subprocess


def test_each_value_reaches_its_own_constant_and_an_unlisted_one_the_last(compile_driver):
    driver = compile_driver(pathlib.Path(__file__).with_name("constant_dispatch_driver.cpp"), [])
    done = subprocess.run([str(driver)], capture_output=True, text=True, timeout=60, check=True)
    assert done.stdout.splitlines() == ["ok with_constant"]
