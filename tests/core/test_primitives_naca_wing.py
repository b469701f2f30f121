"""NACA 4-digit wing generator: stations, section formula, profile order, cells, openings."""

import math

import pytest
import velk

from surface_checks import cell_normal, openings


def section(camber, distance, thickness, n):
    """Upper and lower points per station, trailing edge first, as the section formula fixes."""
    m, p, f = camber * 0.01, distance * 0.1, thickness * 0.01 * 5.0
    upper, lower = [], []
    for i in range(n, -1, -1):
        x = i / n
        x2 = x * x
        x3, x4 = x * x2, x2 * x2
        yt = ((((math.sqrt(x) * 0.2969 + x * -0.126) + x2 * -0.3516) + x3 * 0.2843)
              + x4 * -0.1036) * f
        if p == 0:
            yc = s = 0.0
        elif x <= p:
            yc, s = (2 * p - x) * ((m / (p * p)) * x), (2 * p - 2 * x) * (m / (p * p))
        else:
            k = m / ((1 - p) * (1 - p))
            yc, s = (1 - x) * (((1 - 2 * p) + x) * k), (2 * p - 2 * x) * k
        t = math.atan(s)
        upper.append((x - math.sin(t) * yt, yc + yt * math.cos(t)))
        lower.append((x + math.sin(t) * yt, yc - yt * math.cos(t)))
    return upper, lower


@pytest.mark.parametrize("digits", [(0, 0, 12), (2, 4, 12), (4, 4, 15), (6, 3, 9)], ids=str)
@pytest.mark.parametrize("n", [1, 2, 10, 25])
def test_wing_nodes_follow_the_profile_exactly(digits, n):
    z0, z1 = -0.5, 2.0
    mesh = velk.generate_naca_wing(*digits, n, (z0, z1))
    upper, lower = section(*digits, n)
    profile = upper + lower[1:]
    assert len(mesh.nodes) == 4 * n + 2 and len(mesh.cells) == 4 * n
    assert mesh.nodes == [[x, y, z] for x, y in profile for z in (z0, z1)]


def test_naca_0012_is_symmetric_and_ends_at_the_edges():
    mesh = velk.generate_naca_wing(0, 0, 12, 10, (0.0, 1.0))
    nodes = mesh.nodes
    assert len(nodes) == 42 and len(mesh.cells) == 40
    assert nodes[0] == pytest.approx([1, 0, 0], abs=1e-15)
    assert nodes[1] == pytest.approx([1, 0, 1], abs=1e-15)
    for k in (20, 40):
        assert nodes[k] == [0.0, 0.0, 0.0] and nodes[k + 1] == [0.0, 0.0, 1.0]
    for station in range(1, 11):  # lower point of station i is profile point 10 + i
        up, low = nodes[2 * station], nodes[2 * (10 + station)]
        assert low[0] == up[0] and low[1] == -up[1]


def test_naca_2412_uses_the_forward_formula_at_p():
    nodes = velk.generate_naca_wing(2, 4, 0, 10, (0.0, 1.0)).nodes
    # Station x = 0.4 is profile point 6 (upper); with zero thickness it lies on the camber line.
    assert nodes[12][0] == 0.4
    assert nodes[12][1] == pytest.approx(0.02, rel=1e-14)


def test_camber_distance_zero_is_symmetric_whatever_the_camber():
    assert velk.generate_naca_wing(6, 0, 12, 8, (0.0, 1.0)).nodes == velk.generate_naca_wing(
        0, 0, 12, 8, (0.0, 1.0)
    ).nodes


def test_camber_distance_ten_uses_only_the_forward_formula():
    nodes = velk.generate_naca_wing(4, 10, 12, 8, (0.0, 1.0)).nodes
    assert all(math.isfinite(c) for p in nodes for c in p)


def test_flat_plate():
    mesh = velk.generate_naca_wing(0, 0, 0, 6, (0.0, 3.0))
    assert all(p[1] == 0.0 for p in mesh.nodes)


def test_smallest_wing():
    mesh = velk.generate_naca_wing(0, 0, 12, 1, (0.0, 1.0))
    assert len(mesh.nodes) == 6
    assert mesh.cells == [[0, 2, 1], [3, 1, 2], [4, 0, 5], [1, 5, 0]]
    assert all(abs(p[1]) < 1e-16 for p in mesh.nodes)


def test_cell_order_upper_lower_trailing_edge():
    n = 4
    cells = velk.generate_naca_wing(2, 4, 12, n, (0.0, 1.0)).cells
    assert cells[:2] == [[0, 2, 1], [3, 1, 2]]
    assert cells[2 * n:2 * n + 2] == [[10, 11, 12], [13, 12, 11]]
    assert cells[-2:] == [[2 * n + 2, 0, 2 * n + 3], [1, 2 * n + 3, 0]]


@pytest.mark.parametrize("n", [1, 3, 12])
def test_wing_openings_are_the_span_ends_and_the_leading_edge(n):
    cells = velk.generate_naca_wing(2, 4, 12, n, (0.0, 1.0)).cells
    chain = list(range(n, -1, -1)) + list(range(n + 1, 2 * n + 1))  # upper LE ... TE ... lower LE
    ends = set()
    for k, k2 in zip(chain, chain[1:]):
        ends.add(tuple(sorted((2 * k, 2 * k2))))
        ends.add(tuple(sorted((2 * k + 1, 2 * k2 + 1))))
    seam = {(2 * n, 2 * n + 1), (4 * n, 4 * n + 1)}
    assert openings(cells) == ends | seam


@pytest.mark.parametrize("span, sign", [((0.0, 1.0), 1), ((1.0, 0.0), -1)])
def test_wing_cells_face_out_for_increasing_span(span, sign):
    n = 10
    mesh = velk.generate_naca_wing(2, 4, 12, n, span)
    nodes = mesh.nodes
    upper = mesh.cells[: 2 * n]
    lower = mesh.cells[2 * n :]  # the trailing-edge closure is the last lower panel
    assert all(sign * cell_normal(nodes, c)[1] > 0 for c in upper)
    assert all(sign * cell_normal(nodes, c)[1] < 0 for c in lower)


def test_zero_points_is_refused():
    with pytest.raises(BaseException) as info:
        velk.generate_naca_wing(0, 0, 12, 0, (0.0, 1.0))
    assert type(info.value).__name__ == "PanicException"
    assert str(info.value) == (
        'called `Result::unwrap()` on an `Err` value: '
        'MeshGeneration("Number of points must be 1 or more.")'
    )
