"""Node transforms: translate, rotate, scale, matrix transforms and transformation matrices."""
import math
import random

import pytest

import velk
from reference import rotation_matrix
from helpers import raised

C90 = math.cos(math.pi / 2)  # 6.123233995736766e-17


def ref_transform(p, m, o):
    d = [p[i] - o[i] for i in range(3)]
    return [(((m[r][0] * d[0] + m[r][1] * d[1]) + m[r][2] * d[2]) + m[r][3]) + o[r]
            for r in range(3)]


def random_points(n, seed):
    rng = random.Random(seed)
    return [[rng.uniform(-10, 10) for _ in range(3)] for _ in range(n)]


@pytest.mark.parametrize("node, rotation, expected", [
    ([1, 0, 0], [0, 0, 90], [C90, 1.0, 0.0]),
    ([1, 0, 0], [0, 90, 0], [C90, 0.0, -1.0]),
    ([0, 1, 0], [90, 0, 0], [0.0, C90, 1.0]),
])
def test_rotate_quarter_turns_about_each_axis(node, rotation, expected):
    assert velk.rotate_nodes([node], rotation, [0, 0, 0]) == [expected]


def test_rotate_turns_about_z_first_then_x():
    [[x, y, z]] = velk.rotate_nodes([[1, 0, 0]], [90, 0, 90], [0, 0, 0])
    assert (x, y, z) == pytest.approx((0, 0, 1), abs=1e-15)


@pytest.mark.parametrize("rotation", [[0, 0, 0], [-0.0, -0.0, -0.0], [0.0, -0.0, 0.0]])
def test_rotate_by_zero_either_sign_is_identity_about_origin(rotation):
    nodes, origin = [[0.1, 0.2, 0.7], [-3.5, 1e-300, 2.0]], [0.3, -0.6, 0.9]
    expected = [[(p[i] - origin[i]) + origin[i] for i in range(3)] for p in nodes]
    assert velk.rotate_nodes(nodes, rotation, origin) == expected


def test_rotate_by_nan_angle_goes_through_sine_and_cosine():
    [[x, y, z]] = velk.rotate_nodes([[1, 2, 3]], [0, 0, math.nan], [0, 0, 0])
    assert math.isnan(x) and math.isnan(y) and z == 3.0


@pytest.mark.parametrize("theta", [[30, 40, 0], [-17.5, 123.25, 271], [0, 0, 1e-9], [360, -720, 45]])
def test_rotate_is_bit_exact_in_the_documented_order(theta):
    nodes, origin = random_points(50, 7), [1.5, -2.25, 0.125]
    r = rotation_matrix(theta)
    m = [r[0] + [0.0], r[1] + [0.0], r[2] + [0.0]]
    # R·d summed left to right, plus origin: the matrix transform with a zero translation column
    # adds +0.0 before the origin, which never changes a sum.
    assert velk.rotate_nodes(nodes, theta, origin) == [ref_transform(p, m, origin) for p in nodes]


def test_translate_returns_new_list_and_leaves_argument_alone():
    nodes = [[0, 0, 0], [1, 1, 1]]
    assert velk.translate_nodes(nodes, (1, 2, 3)) == [[1.0, 2.0, 3.0], [2.0, 3.0, 4.0]]
    assert nodes == [[0, 0, 0], [1, 1, 1]]


@pytest.mark.parametrize("scaling, expected", [
    ([2, 3, 4], [3.0, 4.0, 5.0]),
    ([0, 1, -1], [1.0, 2.0, 0.0]),
])
def test_scale_about_origin(scaling, expected):
    assert velk.scale_nodes([[2, 2, 2]], scaling, [1, 1, 1]) == [expected]


def test_build_transformation_matrix_pure_translation():
    assert velk.build_transformation_matrix([1, 2, 3], [0, 0, 0], [1, 1, 1]) == [
        [1.0, 0.0, 0.0, 1.0], [0.0, 1.0, 0.0, 2.0], [0.0, 0.0, 1.0, 3.0], [0.0, 0.0, 0.0, 1.0]]


def test_build_transformation_matrix_scaling_round_trips_into_transform_nodes():
    m = velk.build_transformation_matrix((1, 2, 3), (0, 0, 0), (2, 2, 2))
    assert m == [[2.0, 0.0, 0.0, 1.0], [0.0, 2.0, 0.0, 2.0], [0.0, 0.0, 2.0, 3.0],
                 [0.0, 0.0, 0.0, 1.0]]
    assert velk.transform_nodes([[1, 1, 1]], m, (0, 0, 0)) == [[3.0, 4.0, 5.0]]


def test_build_transformation_matrix_is_rotation_times_scaling():
    t, rot, s = [4, 5, 6], [10, -20, 30], [0.5, 3, -2]
    r = rotation_matrix(rot)
    expected = [[r[i][0] * s[0], r[i][1] * s[1], r[i][2] * s[2], float(t[i])] for i in range(3)]
    assert velk.build_transformation_matrix(t, rot, s) == expected + [[0.0, 0.0, 0.0, 1.0]]


@pytest.mark.parametrize("last_row", [[0, 0, 0, 1], [9, 9, 9, 9]])
def test_transform_nodes_ignores_row_three(last_row):
    m = [[1, 0, 0, 1], [0, 1, 0, 2], [0, 0, 1, 3], last_row]
    nodes = [[0, 0, 0], [5, 5, 5], [-1, 2.5, 7]]
    assert velk.transform_nodes(nodes, m, [5, 5, 5]) == [
        [p[0] + 1.0, p[1] + 2.0, p[2] + 3.0] for p in nodes]


def test_transform_nodes_bit_exact_for_a_general_matrix():
    rng = random.Random(11)
    m = [[rng.uniform(-3, 3) for _ in range(4)] for _ in range(4)]
    nodes, origin = random_points(40, 5), [0.7, -1.3, 2.9]
    assert velk.transform_nodes(nodes, m, origin) == [ref_transform(p, m, origin) for p in nodes]


SHIFT = [[1, 0, 0, 10], [0, 1, 0, 0], [0, 0, 1, 0], [0, 0, 0, 1]]


@pytest.mark.parametrize("ids, expected", [
    ([0, 7], [[10.0, 0.0, 0.0], [1.0, 1.0, 1.0], [2.0, 2.0, 2.0]]),
    ([0, 0], [[20.0, 0.0, 0.0], [1.0, 1.0, 1.0], [2.0, 2.0, 2.0]]),
    ([5], [[0.0, 0.0, 0.0], [1.0, 1.0, 1.0], [2.0, 2.0, 2.0]]),
    ([2, 1, 2 ** 64 - 1], [[0.0, 0.0, 0.0], [11.0, 1.0, 1.0], [12.0, 2.0, 2.0]]),
    ([], [[0.0, 0.0, 0.0], [1.0, 1.0, 1.0], [2.0, 2.0, 2.0]]),
])
def test_transform_selected_nodes(ids, expected):
    nodes = [[0, 0, 0], [1, 1, 1], [2, 2, 2]]
    assert velk.transform_selected_nodes(nodes, ids, SHIFT, [0, 0, 0]) == expected
    assert nodes == [[0, 0, 0], [1, 1, 1], [2, 2, 2]]


def test_transform_selected_twice_uses_current_value():
    m = velk.build_transformation_matrix([0, 0, 0], [0, 0, 30], [1, 1, 1])
    once = velk.transform_nodes([[1, 2, 3]], m, [0.5, 0, 0])
    twice = velk.transform_nodes(once, m, [0.5, 0, 0])
    assert velk.transform_selected_nodes([[1, 2, 3]], [0, 0], m, [0.5, 0, 0]) == twice


@pytest.mark.parametrize("call", [
    lambda: velk.translate_nodes([], [1, 2, 3]),
    lambda: velk.rotate_nodes([], [1, 2, 3], [0, 0, 0]),
    lambda: velk.scale_nodes([], [1, 2, 3], [0, 0, 0]),
    lambda: velk.transform_nodes([], SHIFT, [0, 0, 0]),
    lambda: velk.transform_selected_nodes([], [0, 1], SHIFT, [0, 0, 0]),
])
def test_empty_nodes_give_empty_list(call):
    assert call() == []


@pytest.mark.parametrize("call, error, text", [
    (lambda: velk.transform_nodes([[0, 0, 0]], SHIFT[:3], [0, 0, 0]), ValueError,
     "expected a sequence of length 4 (got 3)"),
    (lambda: velk.transform_nodes([[0, 0, 0]], [[1, 0, 0]] * 4, [0, 0, 0]), ValueError,
     "expected a sequence of length 4 (got 3)"),
    (lambda: velk.rotate_nodes([[0, 0, 0]], [1, 2], [0, 0, 0]), ValueError,
     "expected a sequence of length 3 (got 2)"),
    (lambda: velk.rotate_nodes([[0, 0, 0]], 5, [0, 0, 0]), TypeError,
     "argument 'rotation': 'int' object cannot be converted to 'Sequence'"),
    (lambda: velk.translate_nodes("abc", [0, 0, 0]), TypeError,
     "argument 'nodes': Can't extract `str` to `Vec`"),
    (lambda: velk.transform_selected_nodes([], [-1], SHIFT, [0, 0, 0]), OverflowError, None),
    (lambda: velk.transform_selected_nodes([], [1.0], SHIFT, [0, 0, 0]), TypeError, None),
    (lambda: velk.build_transformation_matrix([0, 0, 0], [0, 0, 0]), TypeError,
     "build_transformation_matrix() missing 1 required positional argument: 'scaling'"),
    (lambda: velk.scale_nodes([], [1, 1, 1], [0, 0, 0], origin=[0, 0, 0]), TypeError,
     "scale_nodes() got multiple values for argument 'origin'"),
])
def test_argument_failures(call, error, text):
    raised(call, error, text)


def test_rotation_given_as_string_names_the_argument():
    with pytest.raises(TypeError) as info:
        velk.rotate_nodes([[0, 0, 0]], "abc", [0, 0, 0])
    assert str(info.value).startswith("argument 'rotation': ")
    assert isinstance(info.value.__cause__, TypeError)


def test_selected_ids_type_failure_names_the_argument():
    with pytest.raises(TypeError, match=r"^argument 'selected_ids': "):
        velk.transform_selected_nodes([], [1.5], SHIFT, [0, 0, 0])


def test_keywords_accepted():
    assert velk.transform_selected_nodes(origin=[0, 0, 0], transformation_matrix=SHIFT,
                                         selected_ids=[0], nodes=[[1, 1, 1]]) == [[11.0, 1.0, 1.0]]


@pytest.mark.parametrize("name, signature, doc", [
    ("translate_nodes", "(nodes, translation)", "Translate nodes"),
    ("rotate_nodes", "(nodes, rotation, origin)", "Rotate nodes"),
    ("scale_nodes", "(nodes, scaling, origin)", "Scale nodes"),
    ("transform_nodes", "(nodes, transformation_matrix, origin)", "Transform nodes"),
    ("transform_selected_nodes", "(nodes, selected_ids, transformation_matrix, origin)",
     "Transform selected nodes"),
    ("build_transformation_matrix", "(translation, rotation, scaling)", "Transformation matrix"),
])
def test_documentation(name, signature, doc):
    fn = getattr(velk, name)
    assert fn.__text_signature__ == signature
    assert fn.__doc__ == doc


def test_numpy_arrays_convert_like_lists():
    np = pytest.importorskip("numpy")
    nodes = np.array(random_points(10, 2))
    assert velk.rotate_nodes(nodes, np.array([10.0, 20, 30]), (0, 0, 0)) == velk.rotate_nodes(
        nodes.tolist(), [10, 20, 30], [0, 0, 0])
