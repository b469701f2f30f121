"""Node selection by point, segment, sphere, rotated box and plane."""
import itertools
import math
import random

import pytest

import velk
from helpers import raised

EPS = 2.220446049250313e-16
ONE_BELOW = 0.9999999999999999  # the double just below 1.0

# Nodes whose squared distances to the origin, summed (x² + y²) + z², are exactly one and
# three steps below 1.0.
NODE_ONE_BELOW = [0.0021060533511106927, 0.999997782267182, 0.0]
NODE_THREE_BELOW = [0.9560342718892494, 0.29325495899164683, 0.0]


def squared(p):
    return (p[0] * p[0] + p[1] * p[1]) + p[2] * p[2]


def random_points(n, seed, spread=2.0):
    rng = random.Random(seed)
    return [[rng.uniform(-spread, spread) for _ in range(3)] for _ in range(n)]


def test_closest_to_point_exact_tie():
    assert velk.select_nodes_closest_to_point([[1, 0, 0], [0, 1, 0], [2, 0, 0]], [0, 0, 0]) == [0, 1]


@pytest.mark.parametrize("nodes", [
    [[1, 0, 0], NODE_ONE_BELOW],
    [NODE_ONE_BELOW, [1, 0, 0]],
])
def test_closest_to_point_within_eps_is_a_tie(nodes):
    assert squared(NODE_ONE_BELOW) == ONE_BELOW
    assert velk.select_nodes_closest_to_point(nodes, [0, 0, 0]) == [0, 1]


def test_closest_to_point_tie_keeps_best_so_later_nodes_compare_to_first():
    # Node 1 ties with node 0 without lowering best; node 2 is within EPS of node 1 but
    # not of best, and it is smaller, so it restarts the list.
    assert squared(NODE_THREE_BELOW) == 0.9999999999999997
    nodes = [[0, 0, 1], NODE_ONE_BELOW, NODE_THREE_BELOW]
    assert velk.select_nodes_closest_to_point(nodes, [0, 0, 0]) == [2]


def test_closest_to_point_never_selects_infinite_or_nan():
    nodes = [[math.inf, 0, 0], [math.nan, 0, 0]]
    assert velk.select_nodes_closest_to_point(nodes, [0, 0, 0]) == []
    assert velk.select_nodes_closest_to_point(nodes + [[5, 5, 5]], [0, 0, 0]) == [2]


@pytest.mark.parametrize("values, expected", [
    ([1.0, ONE_BELOW], [1]),          # improvement first: the smaller one restarts the list
    ([ONE_BELOW, 1.0], [0, 1]),       # within EPS of best: a tie
    ([1.0, 1.0], [0, 1]),
    ([1.0, 1.0 + EPS], [0]),          # exactly EPS apart: the tie test is strict
    ([-1.0, 1.0], [0, 1]),            # distances are absolute
])
def test_closest_to_plane_ties(values, expected):
    nodes = [[7, -3, z] for z in values]
    assert velk.select_nodes_closest_to_plane(nodes, [0, 0, 0], [0, 0, 1]) == expected


def test_closest_to_plane_normal_is_not_normalised():
    nodes = [[0, 0, 3], [0, 0, -2], [1, 0, 0]]
    assert velk.select_nodes_closest_to_plane(nodes, [0, 0, 0], [0, 0, 1000]) == [2]
    assert velk.select_nodes_closest_to_plane(nodes, [0, 0, 1], [0, 0, -5]) == [2]


def test_closest_to_plane_infinite_nodes_never_selected():
    assert velk.select_nodes_closest_to_plane([[0, 0, math.inf]], [0, 0, 0], [0, 0, 1]) == []


SELECTIONS = [
    lambda nodes: velk.select_nodes_closest_to_point(nodes, [0, 0, 0]),
    lambda nodes: velk.select_nodes_on_line(nodes, [0, 0, 0], [1, 0, 0]),
    lambda nodes: velk.select_nodes_in_sphere(nodes, 1.0, [0, 0, 0]),
    lambda nodes: velk.select_nodes_in_box(nodes, [1, 1, 1], [0, 0, 0], [10, 20, 30]),
    lambda nodes: velk.select_nodes_closest_to_plane(nodes, [0, 0, 0], [0, 0, 1]),
    lambda nodes: velk.select_nodes_in_plane_direction(nodes, [0, 0, 0], [0, 0, 0]),
]


@pytest.mark.parametrize("select", SELECTIONS)
def test_empty_node_list_gives_empty_selection(select):
    assert select([]) == []


@pytest.mark.parametrize("node, selected", [
    ([0, 0, 0], True), ([1, 0, 0], True), ([2, 0, 0], True), ([3, 0, 0], False),
    ([-1e-300, 0, 0], True), ([-1, 0, 0], False),
    ([1, 1e-8, 0], True),       # both distances round to exactly 1
    ([1, 1e-7, 0], False),      # the length sum exceeds 2 by about 9.8e-15
])
def test_on_line_is_the_segment(node, selected):
    assert velk.select_nodes_on_line([node], [0, 0, 0], [2, 0, 0]) == ([0] if selected else [])


def test_on_line_with_coincident_ends_selects_only_that_point():
    nodes = [[1, 1, 1], [1, 1, 1.0000000000000002], [1, 1, 1]]
    assert velk.select_nodes_on_line(nodes, [1, 1, 1], [1, 1, 1]) == [0, 2]


@pytest.mark.parametrize("radius", [5, 5.0, -5, True * 5])
def test_sphere_includes_boundary_and_takes_any_number(radius):
    nodes = [[3, 4, 0], [0, 0, 5.000000000000001], [1, 2, 3]]
    assert velk.select_nodes_in_sphere(nodes, radius, [0, 0, 0]) == [0, 2]


def test_sphere_about_a_centre():
    assert velk.select_nodes_in_sphere([[10, 10, 10], [0, 0, 0]], 1, (10, 10, 11)) == [0]


def test_box_axis_aligned_has_closed_bounds():
    nodes = [[1, 1, 1], [-1, -1, -1], [1.0000000000000002, 0, 0], [0, -1.0000000000000002, 0],
             [0.5, -0.5, 0.25], [0, 0, 1.0000000000000002]]
    assert velk.select_nodes_in_box(nodes, [2, 2, 2], [0, 0, 0], [0, 0, 0]) == [0, 1, 4]


def test_box_rotated_by_one_angle():
    nodes = [[1.2, 0, 0], [1.2, 1.2, 0]]
    assert velk.select_nodes_in_box(nodes, [2, 2, 2], [0, 0, 0], [0, 0, 45]) == [0]


@pytest.mark.parametrize("length", [[-2, 2, 2], [2, 2, -1e-300]])
def test_box_negative_length_selects_nothing(length):
    assert velk.select_nodes_in_box([[0, 0, 0]], length, [0, 0, 0], [0, 0, 0]) == []


def negated_angle_box(nodes, length, centre, theta):
    """The box rule that turns back with rotation_matrix of the negated angles."""
    back = velk.rotate_nodes(nodes, [-t for t in theta], centre)
    return [i for i, q in enumerate(back)
            if all(centre[r] - length[r] * 0.5 <= q[r] <= centre[r] + length[r] * 0.5
                   for r in range(3))]


@pytest.mark.parametrize("theta", [[0, 0, 37], [0, -81.5, 0], [123.4, 0, 0], [0, 0, 0]])
def test_box_with_one_angle_matches_negated_angle_rule_bit_for_bit(theta):
    length, centre = [2, 3, 4], [1, -2, 0.5]
    # Points on and near every face, turned into the box's orientation, so the result
    # depends on the last bit of the turned-back coordinates.
    rng = random.Random(5)
    local = []
    for _ in range(400):
        p = [centre[r] + rng.uniform(-0.5, 0.5) * length[r] for r in range(3)]
        axis = rng.randrange(3)
        p[axis] = centre[axis] + rng.choice((-0.5, 0.5)) * length[axis] * (1 + rng.uniform(-1e-15, 1e-15))
        local.append(p)
    nodes = velk.rotate_nodes(local, theta, centre)
    selected = velk.select_nodes_in_box(nodes, length, centre, theta)
    assert selected == negated_angle_box(nodes, length, centre, theta)
    assert 0 < len(selected) < len(nodes)


@pytest.mark.parametrize("theta", [[30, 40, 0], [15, -60, 110], [90, 90, 0]])
def test_box_with_several_angles_is_the_rotated_box(theta):
    length, centre = [2, 3, 4], [1, 2, 3]
    inset = [[centre[r] + s[r] * length[r] * 0.5 * (1 - 1e-12) for r in range(3)]
             for s in itertools.product((-1, 1), repeat=3)]
    corners = velk.rotate_nodes(inset, theta, centre)
    assert velk.select_nodes_in_box(corners, length, centre, theta) == list(range(8))
    # Rotating back with the negated angles is not the inverse here: it loses corners.
    assert negated_angle_box(corners, length, centre, theta) != list(range(8))
    for axis, side in itertools.product(range(3), (-1, 1)):
        outside = [centre[r] for r in range(3)]
        outside[axis] += side * length[axis] * 0.5 * (1 + 1e-9)
        [node] = velk.rotate_nodes([outside], theta, centre)
        assert velk.select_nodes_in_box([node], length, centre, theta) == []


def test_box_matches_inverse_rotation_computed_independently():
    np = pytest.importorskip("numpy")
    theta, length, centre = [25, -35, 145], [1.5, 1.0, 2.5], [0.3, -0.2, 0.1]
    nodes = random_points(3000, 9)
    r = np.array(velk.build_transformation_matrix([0, 0, 0], theta, [1, 1, 1]))[:3, :3]
    local = (np.array(nodes) - centre) @ r  # rows are Rᵀ·d
    inside = np.all(np.abs(local) <= np.array(length) * 0.5 - 1e-12, axis=1)
    outside = np.any(np.abs(local) >= np.array(length) * 0.5 + 1e-12, axis=1)
    selected = set(velk.select_nodes_in_box(nodes, length, centre, theta))
    assert set(np.flatnonzero(inside)) <= selected
    assert not selected & set(np.flatnonzero(outside))
    assert inside.any()


@pytest.mark.parametrize("z", [0.0, -0.0, 1.0, 1e-300])
def test_plane_direction_includes_plane(z):
    assert velk.select_nodes_in_plane_direction([[5, -5, z]], [0, 0, 0], [0, 0, 1]) == [0]


def test_plane_direction_sides():
    nodes = [[0, 0, -1e-300], [0, 0, 2], [math.nan, 0, 0], [0, 0, -3]]
    assert velk.select_nodes_in_plane_direction(nodes, [0, 0, 0], [0, 0, 1]) == [1]
    assert velk.select_nodes_in_plane_direction(nodes, [0, 0, 0], [0, 0, -1]) == [0, 3]
    # A zero normal selects every node whose test value is a number.
    assert velk.select_nodes_in_plane_direction(nodes, [9, 9, 9], [0, 0, 0]) == [0, 1, 3]


def test_selections_agree_with_numpy_expressions():
    np = pytest.importorskip("numpy")
    nodes = random_points(5000, 4)
    a = np.array(nodes)
    centre, normal, origin = np.array([0.2, -0.1, 0.3]), np.array([0.3, -2.0, 0.7]), np.array([0.1, 0.2, -0.3])
    d = a - centre
    sphere = 1.3 * 1.3 >= (d[:, 0] * d[:, 0] + d[:, 1] * d[:, 1]) + d[:, 2] * d[:, 2]
    assert velk.select_nodes_in_sphere(nodes, 1.3, centre.tolist()) == np.flatnonzero(sphere).tolist()
    dots = (a[:, 0] * normal[0] + a[:, 1] * normal[1]) + a[:, 2] * normal[2]
    offset = (origin[0] * normal[0] + origin[1] * normal[1]) + origin[2] * normal[2]
    side = dots - offset >= 0
    assert velk.select_nodes_in_plane_direction(nodes, origin.tolist(), normal.tolist()) == \
        np.flatnonzero(side).tolist()
    h = np.abs(dots - offset)
    assert velk.select_nodes_closest_to_plane(nodes, origin.tolist(), normal.tolist()) == \
        [int(np.argmin(h))]


@pytest.mark.parametrize("call, error, text", [
    (lambda: velk.select_nodes_in_sphere("abc", 1, [0, 0, 0]), TypeError,
     "argument 'nodes': Can't extract `str` to `Vec`"),
    (lambda: velk.select_nodes_in_sphere([], "1", [0, 0, 0]), TypeError, None),
    (lambda: velk.select_nodes_closest_to_point([[0, 0, 0]], [0, 0]), ValueError,
     "expected a sequence of length 3 (got 2)"),
    (lambda: velk.select_nodes_on_line([[0, 0]], [0, 0, 0], [1, 1, 1]), ValueError,
     "expected a sequence of length 3 (got 2)"),
    (lambda: velk.select_nodes_in_box([], [1, 1, 1], None, [0, 0, 0]), TypeError,
     "argument 'centre': 'NoneType' object cannot be converted to 'Sequence'"),
    (lambda: velk.select_nodes_in_box([], [1, 1, 1], [0, 0, 0]), TypeError,
     "select_nodes_in_box() missing 1 required positional argument: 'theta'"),
    (lambda: velk.select_nodes_in_plane_direction([], [0, 0, 0], [0, 0, 1], 4), TypeError,
     "select_nodes_in_plane_direction() takes 3 positional arguments but 4 were given"),
    (lambda: velk.select_nodes_closest_to_plane([], [0, 0, 0], normal=1), TypeError,
     "argument 'normal': 'int' object cannot be converted to 'Sequence'"),
])
def test_argument_failures(call, error, text):
    failure = raised(call, error, text)
    if error is TypeError and text and text.startswith("argument"):
        assert isinstance(failure.__cause__, TypeError)


def test_radius_type_failure_names_the_argument():
    with pytest.raises(TypeError, match=r"^argument 'radius': "):
        velk.select_nodes_in_sphere([], "1", [0, 0, 0])


@pytest.mark.parametrize("name, signature, doc", [
    ("select_nodes_closest_to_point", "(nodes, point)", "Select node closest to point"),
    ("select_nodes_on_line", "(nodes, point_a, point_b)", "Select nodes on line"),
    ("select_nodes_in_sphere", "(nodes, radius, centre)", "Select nodes in sphere"),
    ("select_nodes_in_box", "(nodes, length, centre, theta)", "Select nodes in sphere"),
    ("select_nodes_closest_to_plane", "(nodes, origin, normal)", "Select nodes closest to plane"),
    ("select_nodes_in_plane_direction", "(nodes, origin, normal)",
     "Select nodes in plane direction"),
])
def test_documentation(name, signature, doc):
    fn = getattr(velk, name)
    assert fn.__text_signature__ == signature
    assert fn.__doc__ == doc


def test_selection_and_transform_calls_hold_no_extra_references():
    import sys

    nodes, point, ids = [[0, 0, 0], [1, 2, 3]], [0, 0, 0], [0, 5]
    matrix = velk.build_transformation_matrix([1, 2, 3], [10, 20, 30], [1, 1, 1])
    args = (nodes, point, ids, matrix)
    before = [sys.getrefcount(x) for x in args]
    for _ in range(100):
        velk.select_nodes_closest_to_point(nodes, point)
        velk.select_nodes_in_box(nodes, point, point, point)
        velk.transform_selected_nodes(nodes, ids, matrix, point)
        try:
            velk.select_nodes_in_sphere(nodes, "r", point)
        except TypeError:
            pass
    assert [sys.getrefcount(x) for x in args] == before
