"""Bit-exact reference for free-form deformation: the lattice, corners and frame of a design
block, the two least-squares frame fits through the normal equations and the pivoted dense
solver, and every step of deform, written out in plain Python floats in their fixed order of
operations. Rotating back into the block's axes uses rotation_matrix of the negated angles, which
equals the exact inverse velk uses whenever at most one angle is non-zero: there velk must give
the reference's bits. Any reordering of a sum or product in velk changes some bits here."""

import random

import pytest

import velk
from reference import rotation_matrix, solve_linear_system


# ---- rotation: R = Rx·Ry·Rz, each factor skipped when its angle is exactly zero ----


def turn_about(r, p, c):
    d = [p[0] - c[0], p[1] - c[1], p[2] - c[2]]
    return [((r[i][0] * d[0] + r[i][1] * d[1]) + r[i][2] * d[2]) + c[i] for i in range(3)]


# ---- design block: lattice, corners, inverse lengths, frame points ----


def lattice(length, centre, theta, res):
    (lx, ly, lz), (cx, cy, cz), (nx, ny, nz) = length, centre, res
    x0, y0, z0 = cx - lx * 0.5, cy - ly * 0.5, cz - 0.5 * lz
    nodes = [[(lx / nx) * i + x0, (ly / ny) * j + y0, (lz / nz) * k + z0]
             for i in range(nx + 1) for j in range(ny + 1) for k in range(nz + 1)]
    if any(a != 0 for a in theta):
        r = rotation_matrix(theta)
        nodes = [turn_about(r, p, centre) for p in nodes]
    return nodes


def corners(length, centre, theta):
    r = rotation_matrix(theta)
    minus = [(c - l * 0.5) - c for l, c in zip(length, centre)]
    plus = [(l * 0.5 + c) - c for l, c in zip(length, centre)]
    out = []
    for q in range(8):
        o = [plus[a] if q >> a & 1 else minus[a] for a in range(3)]
        out.append([((r[i][0] * o[0] + r[i][1] * o[1]) + r[i][2] * o[2]) + centre[i]
                    for i in range(3)])
    return out


# ---- dense solver: equilibration, pivoted elimination, both substitutions on vector rows ----


def solve_least_squares(a, b):
    n, p = len(a[0]), len(b[0])
    ata = [[0.0] * n for _ in range(n)]
    for i in range(n):
        for j in range(n):
            for row in a:
                ata[i][j] += row[i] * row[j]
    atb = [[0.0] * p for _ in range(n)]
    for i in range(n):
        for j in range(p):
            for k, row in enumerate(a):
                atb[i][j] += row[i] * b[k][j]
    return solve_linear_system(ata, atb)


# ---- the deformer ----


def row_times(p, f):
    return [((p[0] * f[0][c] + p[1] * f[1][c]) + p[2] * f[2][c]) + f[3][c] for c in range(3)]


def binomials(n):
    out = []
    for k in range(n + 1):
        c = 1.0
        for m in range(k):
            c *= (n - m) / (k - m)
        out.append(c)
    return out


def powi(x, n):
    r = 1.0
    while True:
        if n & 1:
            r *= x
        n //= 2
        if n == 0:
            return r
        x *= x


def bernstein(v, n, coefficients):
    return [powi(v, i) * (powi(1.0 - v, n - i) * coefficients[i]) for i in range(n + 1)]


class Reference:
    """The deformer of one block; rotate_back turns lattice nodes into the block's axes."""

    def __init__(self, length, centre, theta, res):
        self.length, self.centre, self.theta, self.res = length, centre, theta, res
        self.nodes = lattice(length, centre, theta, res)
        c = corners(length, centre, theta)
        self.c0 = c[0]
        self.inverse_lengths = [1 / v for v in length]
        frame = [[c[q][a] - c[0][a] for a in range(3)] for q in (0, 1, 2, 4)]
        frame_rows = [p + [1.0] for p in frame]
        unit_rows = [[0.0, 0.0, 0.0, 1.0], [1.0, 0.0, 0.0, 1.0], [0.0, 1.0, 0.0, 1.0],
                     [0.0, 0.0, 1.0, 1.0]]
        self.to_unit = solve_least_squares(frame_rows, unit_rows)
        self.from_unit = solve_least_squares(unit_rows, frame_rows)
        self.rotate_back = rotation_matrix([-a for a in theta])

    def deform(self, points, moved):
        assert len(moved) == len(self.nodes)
        params = [row_times([p[a] - self.c0[a] for a in range(3)], self.to_unit) for p in points]
        inside = [n for n, q in enumerate(params) if all(0 <= v <= 1 for v in q)]
        rb, c, inv = self.rotate_back, self.centre, self.inverse_lengths
        d = []
        for p, q in zip(self.nodes, moved):
            ps, qs = turn_about(rb, p, c), turn_about(rb, q, c)
            d.append([(qs[a] - ps[a]) * inv[a] for a in range(3)])
        nx, ny, nz = self.res
        cx, cy, cz = binomials(nx), binomials(ny), binomials(nz)
        out = [list(p) for p in points]
        for n in inside:
            s, t, u = params[n]
            bx, by, bz = bernstein(s, nx, cx), bernstein(t, ny, cy), bernstein(u, nz, cz)
            delta = [0.0, 0.0, 0.0]
            for i in range(nx + 1):
                for j in range(ny + 1):
                    for k in range(nz + 1):
                        w = (bx[i] * by[j]) * bz[k]
                        dn = d[(i * (ny + 1) + j) * (nz + 1) + k]
                        delta = [delta[a] + w * dn[a] for a in range(3)]
            r = row_times([s + delta[0], t + delta[1], u + delta[2]], self.from_unit)
            out[n] = [r[a] + self.c0[a] for a in range(3)]
        return out


# ---- cases ----


def points_around(ref, count, seed):
    """Points spread over the block's unit frame widened by 0.15 on every side, plus the corner
    lattice nodes, so inside, outside and boundary points all occur."""
    rng = random.Random(seed)
    pts = []
    for _ in range(count):
        p = row_times([rng.uniform(-0.15, 1.15) for _ in range(3)], ref.from_unit)
        pts.append([p[a] + ref.c0[a] for a in range(3)])
    nz = ref.res[2]
    last = len(ref.nodes) - 1
    pts += [ref.nodes[0], ref.nodes[nz], ref.nodes[last], [1e3, -1e3, 0.5]]
    return pts


def moved_lattice(block):
    nodes = block.nodes
    ids = list(range(0, len(nodes), 3))
    matrix = velk.build_transformation_matrix([0.13, -0.07, 0.21], [4.0, -6.5, 9.0],
                                              [1.1, 0.95, 1.0])
    moved = block.transform_subset(ids, matrix, block.centre)
    moved[1] = [moved[1][0] + 0.3, moved[1][1] - 0.125, moved[1][2] + 0.0625]
    moved[-2] = [moved[-2][0] - 0.2, moved[-2][1], moved[-2][2] + 0.41]
    return moved


BLOCKS = [
    ([2.0, 3.0, 1.5], [0.2, -0.4, 1.0], [0.0, 0.0, 0.0], [2, 2, 2]),
    ([2.0, 3.0, 1.5], [0.2, -0.4, 1.0], [0.0, 0.0, 0.0], [3, 2, 4]),
    ([1.0, 2.0, 3.0], [0.0, 0.0, 0.0], [90.0, 0.0, 0.0], [2, 2, 2]),
    ([1.5, 1.0, 2.0], [1.0, 2.0, -1.0], [37.5, 0.0, 0.0], [3, 2, 4]),
    ([1.5, 1.0, 2.0], [1.0, 2.0, -1.0], [-120.0, 0.0, 0.0], [2, 3, 2]),
    ([2.0, 2.0, 1.0], [-1.0, 0.5, 0.0], [0.0, 90.0, 0.0], [3, 2, 4]),
    ([2.0, 2.0, 1.0], [-1.0, 0.5, 0.0], [0.0, 37.5, 0.0], [2, 2, 2]),
    ([0.7, 1.3, 2.2], [0.3, 0.3, 0.3], [0.0, -200.0, 0.0], [3, 2, 4]),
    ([1.0, 2.0, 0.5], [0.25, -3.0, 2.0], [0.0, 0.0, 90.0], [2, 2, 2]),
    ([1.0, 2.0, 0.5], [0.25, -3.0, 2.0], [0.0, 0.0, 37.5], [3, 2, 4]),
    ([1.0, 2.0, 0.5], [0.25, -3.0, 2.0], [0.0, 0.0, -15.25], [2, 4, 3]),
    # Long edges: the normal equations are equilibrated before they are factorised.
    ([40.0, 25.0, 30.0], [5.0, -2.0, 10.0], [0.0, 0.0, 37.5], [3, 2, 4]),
    # Orders 7 and 8: binomials that are not whole numbers and depend on the running product.
    ([2.0, 1.0, 1.5], [0.0, 0.0, 0.0], [0.0, 37.5, 0.0], [7, 2, 8]),
]


def block_id(case):
    theta = ",".join(f"{a:g}" for a in case[2])
    return f"theta={theta}-res={'x'.join(map(str, case[3]))}"


def hexes(points):
    return [[v.hex() for v in p] for p in points]


@pytest.mark.parametrize("length, centre, theta, res", BLOCKS, ids=[block_id(c) for c in BLOCKS])
def test_deform_is_bit_exact_with_at_most_one_angle(length, centre, theta, res):
    ref = Reference(length, centre, theta, res)
    block = velk.DesignBlock(length, centre, theta, res)
    assert hexes(block.nodes) == hexes(ref.nodes)
    deformer = velk.FreeFormDeformer(block)
    points = points_around(ref, 300, repr((length, theta, res)))
    moved = moved_lattice(block)
    expected = ref.deform(points, moved)
    got = deformer.deform(points, moved)
    assert hexes(got) == hexes(expected)
    inside = sum(p != q for p, q in zip(points, got))
    assert 100 < inside < len(points) - 20  # both sides of the block are exercised
    # The unmoved lattice gives zero displacements, but the points still go to the unit frame
    # and back, and those two matrix products round.
    assert hexes(deformer.deform(points, block.nodes)) == hexes(ref.deform(points, block.nodes))


@pytest.mark.parametrize("theta", [(30.0, 40.0, 0.0), (10.0, -25.0, 60.0)])
def test_two_angles_depart_from_the_negated_angle_form(theta):
    # With two or more angles, rotation_matrix of the negated angles is not the inverse of the
    # block's rotation, so the negated-angle form turns a uniform lattice translation into a
    # wrong displacement. velk rotates back with the exact inverse and moves every inside point
    # by the translation.
    length, centre, res = [2.0, 1.0, 3.0], [0.5, 0.0, 0.0], [3, 2, 2]
    ref = Reference(length, centre, list(theta), res)
    block = velk.DesignBlock(length, centre, list(theta), res)
    assert hexes(block.nodes) == hexes(ref.nodes)
    shift = [0.3, -0.2, 0.25]
    moved = velk.translate_nodes(block.nodes, shift)
    points = points_around(ref, 300, repr(theta))
    got = velk.FreeFormDeformer(block).deform(points, moved)
    expected = ref.deform(points, moved)
    moved_points = [n for n, (p, q) in enumerate(zip(points, got)) if p != q]
    assert len(moved_points) > 100

    def worst(result):
        return max(abs(result[n][a] - (points[n][a] + shift[a])) for n in moved_points
                   for a in range(3))

    worst_velk, worst_ref = worst(got), worst(expected)
    assert worst_velk <= 1e-13
    assert worst_ref > 1e-2  # so velk and the negated-angle reference differ here
    # Rotating back with the transpose instead is the only difference: then the bits agree.
    r = rotation_matrix(theta)
    ref.rotate_back = [[r[j][i] for j in range(3)] for i in range(3)]
    assert hexes(ref.deform(points, moved)) == hexes(got)
