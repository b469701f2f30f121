"""Cylinder, cone, capsule and torus generators: node order, cells, winding and openings."""

import math

import pytest
import velk

from surface_checks import assert_closed, openings, signed_volume
from helpers import panic_text

PI = math.pi


def generation_error(message):
    return f'called `Result::unwrap()` on an `Err` value: MeshGeneration("{message}")'


def sector(k, count):
    return ((k / count) * 2) * PI


# ---- cylinder ----


def cylinder_nodes(r, h, c, s, t):
    nodes = [[c[0] + 0, c[1] - 0.5 * h, 0 + c[2]], [c[0] + 0, 0.5 * h + c[1], 0 + c[2]]]
    for g in range(t + 1):
        y = (g / t) * h - 0.5 * h + c[1]
        for k in range(s):
            a = sector(k, s)
            nodes.append([math.cos(a) * r + c[0], y, math.sin(a) * r + c[2]])
    return nodes


@pytest.mark.parametrize("s, t", [(3, 1), (5, 2), (12, 4)])
def test_cylinder_nodes_cells_and_closed(s, t):
    centre = (0.5, 1.0, -2.0)
    mesh = velk.generate_cylinder(1.5, 3.0, centre, s, t)
    assert mesh.nodes == cylinder_nodes(1.5, 3.0, centre, s, t)
    assert len(mesh.cells) == 2 * s + 2 * s * t
    assert_closed(mesh.cells)
    assert signed_volume(mesh.nodes, mesh.cells) < 0


def test_cylinder_smallest_cell_order():
    mesh = velk.generate_cylinder(1.0, 1.0, (0, 0, 0), 3, 1)
    assert len(mesh.nodes) == 8
    assert mesh.cells == [
        [0, 3, 2], [0, 4, 3], [0, 2, 4],            # bottom cap
        [1, 5, 6], [1, 6, 7], [1, 7, 5],            # top cap
        [2, 3, 6], [6, 5, 2], [3, 4, 7], [7, 6, 3], [4, 2, 5], [5, 7, 4],  # side
    ]


def test_cylinder_accepts_zero_radius_and_negative_height():
    flat = velk.generate_cylinder(0.0, 1.0, (0, 0, 0), 4, 1)
    assert all(p[0] == 0.0 and p[2] == 0.0 for p in flat.nodes)
    upside_down = velk.generate_cylinder(1.0, -2.0, (0, 0, 0), 4, 1)
    assert upside_down.nodes[0][1] == 1.0 and upside_down.nodes[1][1] == -1.0


@pytest.mark.parametrize("s, t", [(2, 1), (3, 0)])
def test_cylinder_refuses_counts(s, t):
    assert panic_text(lambda: velk.generate_cylinder(1.0, 1.0, (0, 0, 0), s, t)) == (
        generation_error("Sectors must be 3 or more, and stacks must be 1 or more.")
    )


# ---- cone ----


def test_cone_nodes_and_cells():
    c, r, h = (1.0, 2.0, 3.0), 0.75, 2.5
    mesh = velk.generate_cone(r, h, c, 4)
    expected = [[0, h * 0.5, 0], [0, -h * 0.5, 0]] + [
        [math.cos(sector(k, 4)) * r, -h * 0.5, math.sin(sector(k, 4)) * r] for k in range(4)
    ]
    assert mesh.nodes == [[p[i] + c[i] for i in range(3)] for p in expected]
    assert mesh.cells == [[1, 3, 2], [1, 4, 3], [1, 5, 4], [1, 2, 5],
                          [0, 2, 3], [0, 3, 4], [0, 4, 5], [0, 5, 2]]
    assert mesh.nodes[0][1] == 2.0 + h / 2 and mesh.nodes[2][1] == 2.0 - h / 2


@pytest.mark.parametrize("s", [3, 7, 32])
def test_cone_closed_and_inward(s):
    mesh = velk.generate_cone(1.0, 2.0, (0, 0, 0), s)
    assert len(mesh.nodes) == s + 2 and len(mesh.cells) == 2 * s
    assert_closed(mesh.cells)
    assert signed_volume(mesh.nodes, mesh.cells) < 0


@pytest.mark.parametrize(
    "r, h, s, message",
    [
        (0.0, 1.0, 2, "Sectors must be 3 or more."),
        (0.0, 1.0, 3, "Radius and height must be positive."),
        (1.0, -1.0, 3, "Radius and height must be positive."),
    ],
)
def test_cone_refuses_in_order(r, h, s, message):
    assert panic_text(lambda: velk.generate_cone(r, h, (0, 0, 0), s)) == generation_error(message)


# ---- capsule ----


def capsule_nodes(r, h, c, s, t):
    nodes = []
    for f in range(2 * t + 1):
        phi = (f / (2 * t)) * -PI + PI / 2
        rho, z = math.cos(phi) * r, math.sin(phi) * r
        y = z + 0.5 * h if z > 0 else z - 0.5 * h
        for k in range(s):
            a = sector(k, s)
            nodes.append([math.cos(a) * rho + c[0], y + c[1], math.sin(a) * rho + c[2]])
    return nodes


def test_capsule_three_rings():
    mesh = velk.generate_capsule(1.0, 2.0, (0, 0, 0), 4, 1)
    assert len(mesh.nodes) == 12 and len(mesh.cells) == 16
    assert [p[1] for p in mesh.nodes] == [2.0] * 4 + [-1.0] * 4 + [-2.0] * 4
    assert mesh.cells[:2] == [[0, 1, 5], [5, 4, 0]]


@pytest.mark.parametrize("s, t", [(3, 1), (6, 2), (10, 5)])
def test_capsule_nodes_and_only_the_pole_rings_open(s, t):
    centre = (0.5, -1.0, 2.0)
    mesh = velk.generate_capsule(1.25, 0.5, centre, s, t)
    assert mesh.nodes == capsule_nodes(1.25, 0.5, centre, s, t)
    assert len(mesh.cells) == 4 * s * t
    last = 2 * t * s
    ring = lambda base: {tuple(sorted((base + k, base + (k + 1) % s))) for k in range(s)}
    assert openings(mesh.cells) == ring(0) | ring(last)
    assert signed_volume(mesh.nodes, mesh.cells) > 0


def test_capsule_has_no_ring_at_the_top_of_the_straight_part():
    mesh = velk.generate_capsule(1.0, 3.0, (0, 0, 0), 5, 3)
    heights = sorted({p[1] for p in mesh.nodes})
    assert -1.5 in heights and 1.5 not in heights


def test_capsule_zero_height_is_a_sphere():
    mesh = velk.generate_capsule(1.0, 0.0, (0, 0, 0), 64, 32)
    assert signed_volume(mesh.nodes, mesh.cells) == pytest.approx(4 / 3 * PI, rel=3e-3)


@pytest.mark.parametrize(
    "r, h, s, t, message",
    [
        (0.0, -1.0, 2, 1, "Sectors must be 3 or more, and stacks must be 1 or more."),
        (1.0, 1.0, 3, 0, "Sectors must be 3 or more, and stacks must be 1 or more."),
        (0.0, 1.0, 3, 1, "Radius must be positive and cylinder height must be non-negative."),
        (1.0, -0.1, 3, 1, "Radius must be positive and cylinder height must be non-negative."),
    ],
)
def test_capsule_refuses_in_order(r, h, s, t, message):
    text = panic_text(lambda: velk.generate_capsule(r, h, (0, 0, 0), s, t))
    assert text == generation_error(message)


# ---- torus ----


def torus_nodes(big_r, r, c, m, n):
    nodes = []
    for i in range(m + 1):
        u = sector(i, m)
        for j in range(n + 1):
            v = sector(j, n)
            w = math.cos(v) * r + big_r
            nodes.append([w * math.cos(u) + c[0], math.sin(v) * r + c[1], w * math.sin(u) + c[2]])
    return nodes


@pytest.mark.parametrize("m, n", [(3, 3), (5, 4), (12, 8)])
def test_torus_nodes_and_only_the_seams_open(m, n):
    centre = (1.0, 2.0, -0.5)
    mesh = velk.generate_torus(2.0, 0.5, centre, m, n)
    nodes = mesh.nodes
    assert nodes == torus_nodes(2.0, 0.5, centre, m, n)
    assert len(mesh.cells) == 2 * m * n
    idx = lambda i, j: i * (n + 1) + j
    seams = {(idx(i, j), idx(i, j + 1)) for i in (0, m) for j in range(n)}
    seams |= {(idx(i, j), idx(i + 1, j)) for j in (0, n) for i in range(m)}
    assert openings(mesh.cells) == seams
    for i in range(m + 1):
        assert math.dist(nodes[idx(i, 0)], nodes[idx(i, n)]) < 1e-15
    for j in range(n + 1):
        assert math.dist(nodes[idx(0, j)], nodes[idx(m, j)]) < 1e-14
    assert signed_volume(nodes, mesh.cells) < 0


def test_torus_smallest():
    mesh = velk.generate_torus(1.0, 0.25, (1, 2, 3), 3, 3)
    assert len(mesh.nodes) == 16 and len(mesh.cells) == 18
    assert mesh.nodes[0] == [1 + 1.25, 2.0, 3.0]
    assert mesh.cells[:2] == [[0, 4, 5], [5, 1, 0]]


def test_torus_equal_radii_accepted():
    assert len(velk.generate_torus(1.0, 1.0, (0, 0, 0), 3, 3).cells) == 18


@pytest.mark.parametrize(
    "big_r, r, m, n, message",
    [
        (0.0, 2.0, 2, 3, "Major and minor segments must be 3 or more."),
        (1.0, 1.0, 3, 2, "Major and minor segments must be 3 or more."),
        (1.0, 0.0, 3, 3, "Radii must be positive."),
        (-1.0, -2.0, 3, 3, "Radii must be positive."),
        (1.0, 2.0, 3, 3, "Minor radius cannot be greater than major radius."),
    ],
)
def test_torus_refuses_in_order(big_r, r, m, n, message):
    text = panic_text(lambda: velk.generate_torus(big_r, r, (0, 0, 0), m, n))
    assert text == generation_error(message)


# ---- volumes against the solids ----


@pytest.mark.parametrize(
    "make, exact",
    [
        (lambda n: velk.generate_cylinder(1.5, 2.0, (1, 0, 0), n, 2), -PI * 1.5**2 * 2.0),
        (lambda n: velk.generate_cone(1.5, 2.0, (0, 1, 0), n), -PI * 1.5**2 * 2.0 / 3),
        (lambda n: velk.generate_capsule(1.0, 2.0, (0, 0, 1), n, n // 2),
         PI * 2.0 + 4 / 3 * PI),
        (lambda n: velk.generate_torus(2.0, 0.5, (0, 0, 0), n, n), -2 * PI**2 * 2.0 * 0.25),
    ],
    ids=["cylinder", "cone", "capsule", "torus"],
)
def test_signed_volume_sign_and_convergence(make, exact):
    errors = []
    for n in (8, 16, 32, 64):
        mesh = make(n)
        volume = signed_volume(mesh.nodes, mesh.cells)
        assert volume * exact > 0
        errors.append(abs(volume / exact - 1))
    assert all(later < earlier for earlier, later in zip(errors, errors[1:]))
    assert errors[-1] < 5e-3


def test_nan_radius_passes_every_check():
    assert len(velk.generate_cone(float("nan"), 1.0, (0, 0, 0), 3).nodes) == 5
    assert len(velk.generate_capsule(float("nan"), 1.0, (0, 0, 0), 3, 1).nodes) == 9
    assert len(velk.generate_torus(float("nan"), float("nan"), (0, 0, 0), 3, 3).nodes) == 16
