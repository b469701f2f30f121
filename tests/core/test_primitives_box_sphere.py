"""Box, icosphere and UV sphere generators: counts, node order and positions, cells, winding."""

import math

import pytest
import velk

from surface_checks import assert_closed, cell_normal, centroid, signed_volume
from helpers import panic_text

T = 1.618033988749895


def generation_error(message):
    return f'called `Result::unwrap()` on an `Err` value: MeshGeneration("{message}")'


def dot(u, v):
    return sum(a * b for a, b in zip(u, v))


def box(length=(1, 1, 1), centre=(0, 0, 0), theta=(0, 0, 0), resolution=(1, 1, 1)):
    return velk.generate_box(length, centre, theta, resolution)


# ---- box ----


@pytest.mark.parametrize(
    "res", [(1, 1, 1), (2, 2, 2), (3, 1, 2), (1, 4, 1), (5, 3, 4)], ids=str
)
def test_box_counts_and_closed_surface(res):
    nx, ny, nz = res
    mesh = box(length=(2, 3, 4), centre=(1, -2, 0.5), resolution=res)
    assert len(mesh.nodes) == (nx + 1) * (ny + 1) * (nz + 1) - (nx - 1) * (ny - 1) * (nz - 1)
    assert len(mesh.cells) == 4 * (ny * nz + nx * nz + nx * ny)
    assert_closed(mesh.cells)
    assert signed_volume(mesh.nodes, mesh.cells) == pytest.approx(24.0, rel=1e-12)


def test_box_nodes_are_the_surface_lattice_in_order_exactly():
    length, centre, (nx, ny, nz) = (2.0, 0.3, 1.1), (0.1, -0.7, 2.5), (3, 2, 4)
    mesh = box(length=length, centre=centre, resolution=(nx, ny, nz))
    d = [length[0] / nx, length[1] / ny, length[2] / nz]
    o = [centre[a] - length[a] * 0.5 for a in range(3)]
    expected = [
        [o[0] + i * d[0], o[1] + j * d[1], o[2] + k * d[2]]
        for i in range(nx + 1)
        for j in range(ny + 1)
        for k in range(nz + 1)
        if i in (0, nx) or j in (0, ny) or k in (0, nz)
    ]
    assert mesh.nodes == expected


def test_unit_box_corners_and_first_cells():
    mesh = box(centre=(1, 2, 3), length=(2, 4, 6))
    assert mesh.nodes[0] == [0.0, 0.0, 0.0]
    assert mesh.nodes[7] == [2.0, 4.0, 6.0]
    # x pass: x-min quad (0, 1, 2, 3), then x-max quad (4, 5, 6, 7).
    assert mesh.cells[:4] == [[0, 1, 2], [2, 1, 3], [4, 6, 7], [7, 5, 4]]
    # y pass: y-min grid is nodes 0, 1, 4, 5; y-max grid 2, 3, 6, 7.
    assert mesh.cells[4:8] == [[0, 4, 5], [5, 1, 0], [2, 3, 6], [6, 3, 7]]
    # z pass: z-min grid 0, 2, 4, 6; z-max grid 1, 3, 5, 7.
    assert mesh.cells[8:] == [[0, 2, 4], [4, 2, 6], [1, 5, 7], [7, 3, 1]]


def test_box_2x2x2_leaves_out_the_centre_point():
    mesh = box(resolution=(2, 2, 2))
    assert len(mesh.nodes) == 26 and len(mesh.cells) == 48
    assert [0.0, 0.0, 0.0] not in mesh.nodes


@pytest.mark.parametrize("res", [(1, 1, 1), (2, 3, 2)], ids=str)
def test_box_normals_point_along_the_outward_axis(res):
    mesh = box(length=(1, 2, 3), resolution=res)
    nodes = mesh.nodes
    for cell in mesh.cells:
        n = cell_normal(nodes, cell)
        c = centroid(nodes, cell)
        axis = max(range(3), key=lambda a: abs(n[a]))
        assert abs(n[(axis + 1) % 3]) < 1e-12 and abs(n[(axis + 2) % 3]) < 1e-12
        assert n[axis] * c[axis] > 0


def test_box_rotation_about_z_is_the_rotation_sum_exactly():
    centre = (0.25, -1.0, 0.5)
    plain = box(centre=centre, resolution=(2, 1, 3))
    turned = box(centre=centre, theta=(0, 0, 90), resolution=(2, 1, 3))
    angle = (90 * 3.141592653589793) / 180.0
    c, s = math.cos(angle), math.sin(angle)
    for (x, y, z), got in zip(plain.nodes, turned.nodes):
        dx, dy, dz = x - centre[0], y - centre[1], z - centre[2]
        assert got == [
            ((c * dx + -s * dy) + 0.0 * dz) + centre[0],
            ((s * dx + c * dy) + 0.0 * dz) + centre[1],
            ((0.0 * dx + 0.0 * dy) + 1.0 * dz) + centre[2],
        ]
    corner = box(theta=(0, 0, 90)).nodes[0]
    assert corner == pytest.approx([0.5, -0.5, -0.5], abs=1e-15)


def test_box_rotation_with_three_angles_is_rigid_and_keeps_winding():
    np = pytest.importorskip("numpy")
    theta = (30.0, -45.0, 110.0)
    plain = np.array(box(length=(1, 2, 3), centre=(1, 1, 1), resolution=(2, 2, 3)).nodes)
    turned_mesh = box(length=(1, 2, 3), centre=(1, 1, 1), theta=theta, resolution=(2, 2, 3))
    turned = np.array(turned_mesh.nodes)
    ax, ay, az = np.radians(theta)
    rx = np.array([[1, 0, 0], [0, np.cos(ax), -np.sin(ax)], [0, np.sin(ax), np.cos(ax)]])
    ry = np.array([[np.cos(ay), 0, np.sin(ay)], [0, 1, 0], [-np.sin(ay), 0, np.cos(ay)]])
    rz = np.array([[np.cos(az), -np.sin(az), 0], [np.sin(az), np.cos(az), 0], [0, 0, 1]])
    expected = (plain - 1.0) @ (rx @ ry @ rz).T + 1.0
    assert np.allclose(turned, expected, atol=1e-14)
    assert signed_volume(turned_mesh.nodes, turned_mesh.cells) == pytest.approx(6.0)


def test_box_negative_zero_angle_is_no_rotation():
    assert box(theta=(-0.0, 0.0, -0.0), centre=(0.1, 0.2, 0.3)).nodes == box(
        centre=(0.1, 0.2, 0.3)
    ).nodes


@pytest.mark.parametrize(
    "length, res, message",
    [
        ((1, 0, 1), (0, 0, 0), "Invalid length: dimensions must be positive."),
        ((-1, 1, 1), (1, 1, 1), "Invalid length: dimensions must be positive."),
        ((1, 1, 1), (0, 1, 1), "Invalid resolution: dimensions must be non-zero."),
        ((1, 1, 1), (1, 1, 0), "Invalid resolution: dimensions must be non-zero."),
    ],
)
def test_box_refuses_bad_arguments_in_order(length, res, message):
    assert panic_text(lambda: box(length=length, resolution=res)) == generation_error(message)


def test_box_nan_length_passes_the_check():
    mesh = box(length=(float("nan"), 1, 1))
    assert len(mesh.nodes) == 8 and math.isnan(mesh.nodes[0][0])


# ---- icosphere ----


@pytest.mark.parametrize("n", range(5))
def test_icosphere_counts_closed_and_on_the_sphere(n):
    centre = (1.0, -2.0, 0.5)
    mesh = velk.generate_icosphere(2.0, centre, n)
    assert len(mesh.nodes) == 10 * 4**n + 2 and len(mesh.cells) == 20 * 4**n
    assert_closed(mesh.cells)
    nodes = mesh.nodes
    assert max(abs(math.dist(p, centre) - 2.0) for p in nodes) <= 4.5e-16
    for cell in mesh.cells:
        c = centroid(nodes, cell)
        assert dot(cell_normal(nodes, cell), [c[k] - centre[k] for k in range(3)]) > 0


def project(p, radius, centre):
    norm = math.sqrt((p[0] * p[0] + p[1] * p[1]) + p[2] * p[2])
    return [p[k] / norm * radius + centre[k] for k in range(3)]


def test_icosphere_base_nodes_and_cells():
    base = [(-1, T, 0), (1, T, 0), (-1, -T, 0), (1, -T, 0), (0, -1, T), (0, 1, T),
            (0, -1, -T), (0, 1, -T), (T, 0, -1), (T, 0, 1), (-T, 0, -1), (-T, 0, 1)]
    mesh = velk.generate_icosphere(1.5, (0.5, 0, -1), 0)
    assert mesh.nodes == [project(p, 1.5, (0.5, 0, -1)) for p in base]
    assert mesh.cells[:3] == [[0, 11, 5], [0, 5, 1], [0, 1, 7]]
    assert mesh.cells[-1] == [9, 8, 1]


def test_icosphere_midpoints_are_shared_and_created_in_order():
    mesh = velk.generate_icosphere(1.0, (0, 0, 0), 1)
    # Cell (0, 11, 5) creates midpoints 12 (0-11), 13 (11-5), 14 (5-0); cell (0, 5, 1) finds
    # edge 0-5 again in the other direction and creates 15 (5-1) and 16 (1-0).
    assert mesh.cells[:8] == [
        [0, 12, 14], [11, 13, 12], [5, 14, 13], [12, 13, 14],
        [0, 14, 16], [5, 15, 14], [1, 16, 15], [14, 15, 16],
    ]
    mid = [(-1 + -T) * 0.5, (T + 0) * 0.5, (0 + 1) * 0.5]
    assert mesh.nodes[12] == project(mid, 1.0, (0, 0, 0))


def test_icosphere_deeper_levels_average_unprojected_nodes():
    # Level-2 midpoints are averaged from level-1 midpoints that are still on the flat faces,
    # so a level-2 node on edge 0-11 lies on the ray through the quarter point of that edge.
    mesh = velk.generate_icosphere(1.0, (0, 0, 0), 2)
    a, b = (-1, T, 0), (-T, 0, 1)
    quarter = [(a[k] + (a[k] + b[k]) * 0.5) * 0.5 for k in range(3)]
    target = project(quarter, 1.0, (0, 0, 0))
    assert any(math.dist(p, target) < 1e-15 for p in mesh.nodes)


def test_icosphere_volume_approaches_the_ball():
    errors = []
    for n in range(5):
        mesh = velk.generate_icosphere(1.0, (0.3, 0.2, 0.1), n)
        errors.append(abs(signed_volume(mesh.nodes, mesh.cells) / (4 / 3 * math.pi) - 1))
    assert all(later < earlier for earlier, later in zip(errors, errors[1:]))
    assert errors[-1] < 3e-3


@pytest.mark.parametrize("radius", [0.0, -1.0])
def test_icosphere_refuses_radius(radius):
    assert panic_text(lambda: velk.generate_icosphere(radius, (0, 0, 0), 1)) == generation_error(
        "Radius must be positive."
    )


# ---- UV sphere ----


def uv_nodes(r, c, sectors, stacks):
    pi = math.pi
    nodes = [[c[0] + 0, c[1] + r, c[2] + 0]]
    for g in range(1, stacks):
        phi = (g / stacks) * -pi + pi / 2
        rho, y = math.cos(phi) * r, math.sin(phi) * r + c[1]
        for k in range(sectors):
            t = ((k / sectors) * 2) * pi
            nodes.append([math.cos(t) * rho + c[0], y, math.sin(t) * rho + c[2]])
    nodes.append([c[0] + 0, c[1] - r, c[2] + 0])
    return nodes


@pytest.mark.parametrize("sectors, stacks", [(3, 2), (4, 3), (7, 5), (16, 9)])
def test_uvsphere_nodes_counts_and_closed(sectors, stacks):
    centre = (0.5, -1.25, 2.0)
    mesh = velk.generate_uvsphere(1.5, centre, sectors, stacks)
    nodes = mesh.nodes
    assert nodes == uv_nodes(1.5, centre, sectors, stacks)
    assert len(mesh.cells) == 2 * sectors * (stacks - 1)
    assert_closed(mesh.cells)
    for cell in mesh.cells:
        c = centroid(nodes, cell)
        assert dot(cell_normal(nodes, cell), [c[k] - centre[k] for k in range(3)]) > 0


def test_uvsphere_cell_order():
    s = 4
    mesh = velk.generate_uvsphere(1.0, (0, 0, 0), s, 3)
    assert mesh.cells[:s] == [[0, 2, 1], [0, 3, 2], [0, 4, 3], [0, 1, 4]]
    assert mesh.cells[s:s + 2] == [[1, 2, 6], [6, 5, 1]]
    assert mesh.cells[-s:] == [[9, 5, 6], [9, 6, 7], [9, 7, 8], [9, 8, 5]]


def test_uvsphere_smallest_has_an_equator_ring():
    mesh = velk.generate_uvsphere(1.0, (0, 0, 0), 3, 2)
    assert len(mesh.nodes) == 5 and len(mesh.cells) == 6
    assert all(abs(p[1]) < 1e-16 for p in mesh.nodes[1:4])


def test_uvsphere_zero_and_negative_radius():
    assert velk.generate_uvsphere(0.0, (1, 2, 3), 5, 4).nodes == [[1.0, 2.0, 3.0]] * 17
    mirrored = velk.generate_uvsphere(-1.0, (0, 0, 0), 8, 6)
    assert mirrored.nodes[0] == [0.0, -1.0, 0.0]
    assert signed_volume(mirrored.nodes, mirrored.cells) < 0


def test_uvsphere_volume_approaches_the_ball():
    errors = []
    for n in (4, 8, 16, 32, 64):
        mesh = velk.generate_uvsphere(2.0, (1, 0, 0), n, n)
        errors.append(abs(signed_volume(mesh.nodes, mesh.cells) / (4 / 3 * math.pi * 8) - 1))
    assert all(later < earlier for earlier, later in zip(errors, errors[1:]))
    assert errors[-1] < 3e-3


@pytest.mark.parametrize("sectors, stacks", [(2, 2), (3, 1), (0, 0)])
def test_uvsphere_refuses_counts(sectors, stacks):
    text = panic_text(lambda: velk.generate_uvsphere(1.0, (0, 0, 0), sectors, stacks))
    assert text == generation_error("Sectors must be 3 or more, and stacks must be 2 or more.")
