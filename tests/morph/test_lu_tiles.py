"""The register tiles of the dense LU factorisation (plain C++, lu_tiles_driver.cpp): the AVX2
and the plain unfused tile and the fused tile, each bit for bit against its update taken pivot by
pivot, touching no element outside the tile."""

import pathlib
import subprocess

import pytest

ROOT = pathlib.Path(__file__).resolve().parents[2]


@pytest.fixture(scope="module")
def lu_tiles_driver(compile_driver):
    # Built as the module builds its kernels: optimised, never contracting to fused multiply-add.
    return compile_driver(pathlib.Path(__file__).with_name("lu_tiles_driver.cpp"),
                          [ROOT / "src/interp/lu_tiles.cpp"], "-O3", "-ffp-contract=off")


def test_each_tile_gives_the_bits_of_its_update(lu_tiles_driver):
    done = subprocess.run([str(lu_tiles_driver)], capture_output=True, text=True, timeout=60, check=True)
    assert done.stdout.splitlines() == ["ok plain", "ok avx2", "ok fused", "ok fused differs"]
