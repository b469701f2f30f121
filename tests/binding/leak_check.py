"""Calls Mesh entry points, succeeding and failing, many times and reports the growth of the
process's resident memory. Run as a script: python tests/binding/leak_check.py [iterations]."""

import sys

import velk


def resident_kib():
    with open("/proc/self/statm") as f:
        return int(f.read().split()[1]) * 4


def exercise():
    mesh = velk.Mesh([[0, 0, 0], [1, 0, 0], [0, 1, 0]], [[0, 1, 2]])
    mesh.nodes
    mesh.cells
    mesh.triangles()
    mesh.cell_normals()
    repr(mesh)
    mesh.nodes = [[0, 0, 0], [2, 0, 0], [0, 2, 0]]
    for bad in ("abc", 5, [[0, 0]], [[0, 0, "a"]]):
        try:
            velk.Mesh(bad, [])
        except (TypeError, ValueError):
            pass
        try:
            mesh.nodes = bad
        except (TypeError, ValueError):
            pass
    try:
        velk.Mesh([], [])
        velk.Mesh([])
    except TypeError:
        pass
    try:
        velk.Mesh([[0, 0, 0]], [[0, 1, 2]]).triangles()
    except BaseException:
        pass


def growth_kib(iterations):
    for _ in range(2000):
        exercise()
    before = resident_kib()
    for _ in range(iterations):
        exercise()
    return resident_kib() - before


if __name__ == "__main__":
    n = int(sys.argv[1]) if len(sys.argv) > 1 else 100_000
    print(f"{n} iterations: resident memory grew by {growth_kib(n)} KiB")
