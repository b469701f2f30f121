"""volume, area and their gradients (central differences, the identities of a closed mesh,
trimesh as a peer), and the wing surface generator (closed, outward, no duplicate nodes,
cosine spacing, taper, sweep and twist)."""

import numpy as np
import pytest

import velk_morph

TET = np.array([[0, 0, 0], [1, 0, 0], [0, 1, 0], [0, 0, 1]], dtype=float)
TET_FACES = np.array([[0, 2, 1], [0, 1, 3], [0, 3, 2], [1, 2, 3]])


def wing(**shape):
    return velk_morph.naca_wing(**{"naca": "2412", "chord_points": 12, "span_stations": 4,
                                   **shape})


SHAPES = {
    "tetrahedron": lambda: (TET + [0.3, -0.2, 0.5], TET_FACES),
    "wing": lambda: wing(taper=0.6, sweep=25, twist=-4),
    "thick wing": lambda: wing(naca="4421", span=2.0, root_chord=1.5),
}


@pytest.fixture(params=sorted(SHAPES))
def closed(request):
    return SHAPES[request.param]()


@pytest.mark.parametrize("measure,gradient", [
    (velk_morph.volume, velk_morph.volume_gradient),
    (velk_morph.area, velk_morph.area_gradient),
])
def test_gradients_match_central_differences(closed, measure, gradient):
    points, triangles = closed
    g = gradient(points, triangles)
    assert g.shape == points.shape
    h = 1e-6
    numeric = np.zeros_like(points)
    for index in np.ndindex(points.shape):
        up, down = points.copy(), points.copy()
        up[index] += h
        down[index] -= h
        numeric[index] = (measure(up, triangles) - measure(down, triangles)) / (2 * h)
    np.testing.assert_allclose(g, numeric, atol=1e-8 * np.abs(g).max())


def test_volume_identities_of_a_closed_mesh(closed):
    points, triangles = closed
    g = velk_morph.volume_gradient(points, triangles)
    v = velk_morph.volume(points, triangles)
    assert np.abs(g.sum(axis=0)).max() <= 1e-13 * np.abs(g).sum()
    assert (points * g).sum() == pytest.approx(3 * v, rel=1e-13)
    # Translation leaves the volume and area unchanged; scaling by 2 multiplies them by 8 and 4.
    moved = points + [3.0, -1.0, 2.0]
    assert velk_morph.volume(moved, triangles) == pytest.approx(v, rel=1e-12)
    assert velk_morph.volume(2 * points, triangles) == pytest.approx(8 * v, rel=1e-13)
    assert velk_morph.area(2 * points, triangles) == pytest.approx(
        4 * velk_morph.area(points, triangles), rel=1e-13)
    # Turned inside out, the volume changes sign.
    assert velk_morph.volume(points, triangles[:, ::-1]) == pytest.approx(-v, rel=1e-13)


def test_measures_agree_with_trimesh(closed):
    trimesh = pytest.importorskip("trimesh")
    points, triangles = closed
    mesh = trimesh.Trimesh(points, triangles, process=False)
    assert velk_morph.volume(points, triangles) == pytest.approx(mesh.volume, rel=1e-12)
    assert velk_morph.area(points, triangles) == pytest.approx(mesh.area, rel=1e-12)


def test_a_triangle_without_area_adds_no_gradient():
    points = np.array([[0, 0, 0], [1, 0, 0], [2, 0, 0], [0, 1, 0]], dtype=float)
    g = velk_morph.area_gradient(points, [[0, 1, 2], [0, 1, 3]])
    np.testing.assert_array_equal(g[2], 0.0)
    assert np.all(np.isfinite(g))


@pytest.mark.parametrize("call,name", [
    (lambda f: f(np.zeros((3, 2)), [[0, 1, 2]]), "points"),
    (lambda f: f(np.zeros((3, 3)), [[0, 1, 2, 0]]), "triangles"),
    (lambda f: f(np.zeros((3, 3)), [[0, 1, 3]]), "triangles"),
    (lambda f: f(np.zeros((3, 3)), [[0.0, 1.0, 2.0]]), "triangles"),
])
@pytest.mark.parametrize("function", [velk_morph.volume, velk_morph.area,
                                      velk_morph.volume_gradient, velk_morph.area_gradient])
def test_wrong_input_is_a_value_error(function, call, name):
    with pytest.raises(ValueError, match=name):
        call(function)


def test_wing_is_closed_outward_and_has_one_node_per_point():
    trimesh = pytest.importorskip("trimesh")
    chord_points, stations = 10, 5
    points, triangles = wing(chord_points=chord_points, span_stations=stations, twist=6, sweep=30)
    ring = 2 * chord_points
    assert points.shape == (stations * ring, 3) and triangles.dtype == np.int64
    assert len(triangles) == 2 * ring * (stations - 1) + 2 * (ring - 2)
    assert len(np.unique(points.round(12), axis=0)) == len(points)
    mesh = trimesh.Trimesh(points, triangles, process=False)
    assert mesh.is_watertight and mesh.is_winding_consistent and mesh.volume > 0
    # Every side normal points away from the section's camber line: +y on the upper surface.
    normals = mesh.face_normals[: ring * (stations - 1) * 2]
    assert (normals[0::2][: chord_points, 1] > 0).all()


def test_wing_sections_cosine_spacing_taper_sweep_and_twist():
    n = 16
    points, _ = velk_morph.naca_wing("0012", chord_points=n, span_stations=3, span=2.0,
                                     root_chord=2.0, taper=0.5, sweep=45.0, twist=10.0)
    root, mid, tip = points[: 2 * n], points[2 * n: 4 * n], points[4 * n:]
    # Root: chord 2 from x = 0 to 2, stations at 2 * (1 + cos(pi i / n)) / 2 on the upper side.
    np.testing.assert_allclose(root[: n + 1, 0], 1 + np.cos(np.pi * np.arange(n + 1) / n),
                               atol=0.004)
    assert root[0].tolist() == [2.0, 0.0, 0.0] and root[n].tolist() == [0.0, 0.0, 0.0]
    # Tip: chord 1, leading edge moved 2 * tan(45 deg) = 2 back, nose up by 10 degrees about the
    # quarter chord.
    leading, trailing = tip[n], tip[0]
    assert np.linalg.norm(trailing - leading) == pytest.approx(1.0)
    assert np.degrees(np.arctan2(leading[1] - trailing[1], trailing[0] - leading[0])) == \
        pytest.approx(10.0)
    quarter = 0.75 * leading + 0.25 * trailing
    np.testing.assert_allclose(quarter, [2.25, 0.0, 2.0], atol=1e-12)
    assert mid[0, 2] == 1.0 and np.ptp(mid[:, 2]) == 0.0
    # A symmetric section: the lower ring mirrors the upper one at the root.
    np.testing.assert_allclose(root[n + 1:, 1], -root[1:n][::-1, 1], atol=1e-15)


@pytest.mark.parametrize("kwargs,text", [
    ({"naca": "241"}, "naca"),
    ({"naca": "24x2"}, "naca"),
    ({"naca": "2400"}, "thickness"),
    ({"chord_points": 1}, "chord_points"),
    ({"span_stations": 1}, "span_stations"),
    ({"taper": -1.0}, "chord"),
    ({"span": 0.0}, "span"),
])
def test_wing_refuses_what_makes_no_closed_surface(kwargs, text):
    with pytest.raises(ValueError, match=text):
        velk_morph.naca_wing(**kwargs)
