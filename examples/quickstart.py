"""Builds a small mesh with velk and prints its summary and cell normals."""

import velk

mesh = velk.Mesh(
    [[0, 0, 0], [1, 0, 0], [1, 1, 0], [0, 1, 0]],
    [[0, 1, 2], [0, 2, 3]],
)
print(mesh)
print("cell normals:", mesh.cell_normals())
