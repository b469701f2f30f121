"""Shared checks on generated triangle surfaces: edge use, openings and signed volume."""

from collections import Counter


def directed_edges(cells):
    """Counter of directed edges (u, v), three per cell in the cell's order."""
    edges = Counter()
    for a, b, c in cells:
        edges[(a, b)] += 1
        edges[(b, c)] += 1
        edges[(c, a)] += 1
    return edges


def openings(cells):
    """The undirected edges used by exactly one cell, as sorted pairs.

    Fails if a directed edge is used twice, or an edge by more than two cells: the surface must
    be consistently wound wherever two cells meet."""
    edges = directed_edges(cells)
    repeated = [e for e, n in edges.items() if n != 1]
    assert not repeated, f"directed edges used more than once: {repeated[:5]}"
    return {tuple(sorted(e)) for e in edges if (e[1], e[0]) not in edges}


def assert_closed(cells):
    """Every edge is used by exactly two cells, in opposite directions."""
    assert openings(cells) == set()


def signed_volume(nodes, cells):
    """Sum over cells of the triple product of the corners, divided by 6."""
    total = 0.0
    for a, b, c in cells:
        ax, ay, az = nodes[a]
        bx, by, bz = nodes[b]
        cx, cy, cz = nodes[c]
        total += ax * (by * cz - bz * cy) + ay * (bz * cx - bx * cz) + az * (bx * cy - by * cx)
    return total / 6.0


def cell_normal(nodes, cell):
    """(B - A) x (C - A), not normalised."""
    a, b, c = (nodes[i] for i in cell)
    u = [b[k] - a[k] for k in range(3)]
    v = [c[k] - a[k] for k in range(3)]
    return [u[1] * v[2] - u[2] * v[1], u[2] * v[0] - u[0] * v[2], u[0] * v[1] - u[1] * v[0]]


def centroid(nodes, cell):
    return [sum(nodes[i][k] for i in cell) / 3.0 for k in range(3)]
