"""The RbfDeformer class: construction, deform, and the exact texts of every failure route."""

import math

import pytest

import velk
from helpers import panic_type

PANIC = "called `Result::unwrap()` on an `Err` value: "
CUBE = [[0.0, 0.0, 0.0], [1.0, 0.0, 0.0], [0.0, 1.0, 0.0], [0.0, 0.0, 1.0]]
MOVED = [[x + 1.0, y, z] for x, y, z in CUBE]
KERNELS = ["gaussian", "multiquadric", "inverse_multiquadratic", "linear", "cubic",
           "thin_plate_spline"]


def close(a, b, tol=1e-12):
    return all(math.isclose(u, v, abs_tol=tol) for p, q in zip(a, b) for u, v in zip(p, q))


def test_class_documentation():
    assert velk.RbfDeformer.__doc__ == "Rbf deformer."
    assert velk.RbfDeformer.__text_signature__ == (
        "(original_control_points, deformed_control_points, kernel=None, epsilon=None)")
    assert velk.RbfDeformer.deform.__text_signature__ == "($self, points)"
    assert velk.RbfDeformer.deform.__doc__ is None
    assert "RbfDeformer" in velk.__all__


def test_defaults_are_gaussian_and_epsilon_one():
    default = velk.RbfDeformer(CUBE, MOVED)
    explicit = velk.RbfDeformer(CUBE, MOVED, "gaussian", 1.0)
    by_keyword = velk.RbfDeformer(deformed_control_points=MOVED, original_control_points=CUBE,
                                  kernel=None, epsilon=None)
    far = [[0.3, 0.2, 0.1], [5.0, -4.0, 2.0]]
    assert default.deform(far) == explicit.deform(far) == by_keyword.deform(far)
    assert default.deform(far) != velk.RbfDeformer(CUBE, MOVED, "gaussian", 2.0).deform(far)
    assert close(default.deform(CUBE), MOVED)


def test_cubic_ignores_epsilon():
    pts = [[0.5, 0.5, 0.5], [2.0, -1.0, 0.0]]
    a = velk.RbfDeformer(CUBE, MOVED, kernel="cubic", epsilon=None).deform(pts)
    b = velk.RbfDeformer(CUBE, MOVED, "cubic", 123.0).deform(pts)
    assert a == b


@pytest.mark.parametrize("kernel", KERNELS)
def test_identity_deformation_returns_the_control_points(kernel):
    rbf = velk.RbfDeformer(CUBE, CUBE, kernel)
    assert close(rbf.deform(CUBE), CUBE, 1e-9)


def test_moved_control_points_and_far_points_go_to_the_deformed_mean():
    rbf = velk.RbfDeformer(CUBE, MOVED)
    assert close(rbf.deform(CUBE), MOVED)
    far = rbf.deform([[1e3, 1e3, 1e3]])[0]
    mean = [sum(p[a] for p in MOVED) / 4 for a in range(3)]
    assert close([far], [mean], 1e-9)


def test_constant_output_axis_is_exactly_its_mean():
    deformed = [[x * 2.0, y - 1.0, 5.0] for x, y, _ in CUBE]
    rbf = velk.RbfDeformer(CUBE, deformed, "thin_plate_spline")
    out = rbf.deform([[0.1, 0.2, 0.3], [-7.0, 3.0, 1e6]] + CUBE)
    assert [p[2] for p in out] == [5.0] * 6
    assert close(out[2:], deformed, 1e-9)


def test_planar_control_points_keep_the_query_offset():
    # All original z equal: the z spread becomes 1.0 and the centres sit at z = 0, so a query
    # 1 above the plane scales every gaussian kernel value, and so every standardised output,
    # by exp(-0.5).
    flat = [[0.0, 0.0, 2.0], [1.0, 0.0, 2.0], [0.0, 1.0, 2.0], [1.0, 1.0, 2.0]]
    lifted = [[x, y, 2.0 + x * y] for x, y, _ in flat]
    rbf = velk.RbfDeformer(flat, lifted, "gaussian")
    assert close(rbf.deform(flat), lifted, 1e-9)
    on, above = rbf.deform([[0.2, 0.7, 2.0], [0.2, 0.7, 3.0]])
    means = [0.5, 0.5, 2.25]
    for a in range(3):
        assert math.isclose(above[a] - means[a], (on[a] - means[a]) * math.exp(-0.5),
                            rel_tol=1e-12)


def test_one_control_point_moves_every_point_to_it():
    rbf = velk.RbfDeformer([[1.0, 2.0, 3.0]], [[4.0, 5.0, 6.0]])
    assert rbf.deform([[0.0, 0.0, 0.0], [9.0, 9.0, 9.0]]) == [[4.0, 5.0, 6.0]] * 2


@pytest.mark.parametrize("kernel", ["gaussian", "thin_plate_spline", "multiquadric"])
def test_a_nan_query_fails_instead_of_giving_plausible_numbers(kernel):
    rbf = velk.RbfDeformer(CUBE, [[x + 1, y, z] for x, y, z in CUBE], kernel)
    with pytest.raises(ValueError) as info:
        rbf.deform([[0.1, 0.2, 0.3], [float("nan"), 0.0, 0.0]])
    assert str(info.value) == "🔴 Deformation error: Prediction failed: NaN values in output"


def test_a_nan_control_point_fails_the_construction():
    points = [list(p) for p in CUBE]
    points[1][2] = float("nan")
    with pytest.raises(BaseException) as info:
        velk.RbfDeformer(points, MOVED)
    assert "NaN detected in backward substitution" in str(info.value)


def test_deform_of_empty_list_and_keyword():
    rbf = velk.RbfDeformer(CUBE, MOVED)
    assert rbf.deform([]) == []
    assert rbf.deform(points=CUBE[:1]) == rbf.deform(CUBE[:1])
    assert rbf.deform(((0, 0, 0),)) == rbf.deform([[0.0, 0.0, 0.0]])


def test_deform_does_not_change_the_deformer():
    rbf = velk.RbfDeformer(CUBE, MOVED)
    first = rbf.deform(CUBE)
    with pytest.raises(TypeError):
        rbf.deform("abc")
    assert rbf.deform(CUBE) == first


TWICE = [[0.0, 0.0, 0.0], [0.0, 0.0, 0.0]]


@pytest.mark.parametrize("args,message", [
    ((CUBE, MOVED, "spline"), 'Deformation("Unsupported kernel: spline")'),
    ((CUBE, MOVED, "Gaussian"), 'Deformation("Unsupported kernel: Gaussian")'),
    ((CUBE, MOVED, " gaussian"), 'Deformation("Unsupported kernel:  gaussian")'),
    (([], []), 'Deformation("Failed to create RBF: Design matrix and RHS must be non-empty and '
               'the same length.")'),
    ((CUBE[:2], MOVED[:2], "gaussian", 0.0),
     'Deformation("Failed to create RBF: Exact zero pivot encountered at column 0")'),
    # Three coincident control points: every row of the kernel matrix is the same, so column 1
    # has only zeros left after the first step.
    ((TWICE + TWICE[:1], MOVED[:3]),
     'Deformation("Failed to create RBF: Exact zero pivot encountered at column 1")'),
    # A single centre with epsilon 0: K = [[0]] and the standardised value is 0, so 0/0.
    (([[1.0, 2.0, 3.0]], [[4.0, 5.0, 6.0]], None, 0.0),
     'Deformation("Failed to create RBF: NaN detected in backward substitution at index 0")'),
    # Two coincident centres going to one place: the untested last pivot is 0 and 0/0 follows.
    ((TWICE, [[1.0, 1.0, 1.0]] * 2),
     'Deformation("Failed to create RBF: NaN detected in backward substitution at index 1")'),
])
def test_construction_errors_are_internal_failures(args, message):
    with pytest.raises(BaseException) as info:
        velk.RbfDeformer(*args)
    assert type(info.value) is panic_type()
    assert not isinstance(info.value, Exception)
    assert info.value.args == (PANIC + message,)


def test_length_mismatch_is_checked_before_the_kernel_name():
    with pytest.raises(panic_type()) as info:
        velk.RbfDeformer(CUBE, MOVED[:3], "no such kernel")
    assert info.value.args[0].startswith("x and y must have the same length")


@pytest.mark.parametrize("original,deformed,rendering", [
    ("abc", MOVED, "TypeError(\"Can't extract `str` to `Vec`\")"),
    (5, MOVED, "TypeError(\"'int' object cannot be converted to 'Sequence'\")"),
    (CUBE, [[0.0, 0.0]], "ValueError('expected a sequence of length 3 (got 2)')"),
    (CUBE, [[0.0, 0.0, "a"]], "TypeError("),
])
def test_control_point_conversion_failures_are_internal_failures(original, deformed, rendering):
    with pytest.raises(panic_type()) as info:
        velk.RbfDeformer(original, deformed)
    text = info.value.args[0]
    assert text.startswith(PANIC + "PyErr { type: <class '")
    assert rendering in text


@pytest.mark.parametrize("kwargs,name,detail", [
    ({"kernel": 3}, "kernel", "'int' object cannot be converted to 'PyString'"),
    ({"epsilon": "x"}, "epsilon", None),
])
def test_kernel_and_epsilon_are_converted_first_and_named(kwargs, name, detail):
    with pytest.raises(TypeError) as info:
        velk.RbfDeformer("not points", "either", **kwargs)
    text = str(info.value)
    assert text.startswith(f"argument '{name}': ")
    assert detail is None or text == f"argument '{name}': {detail}"
    assert isinstance(info.value.__cause__, TypeError)


@pytest.mark.parametrize("call,message", [
    (lambda: velk.RbfDeformer(CUBE),
     "RbfDeformer.__new__() missing 1 required positional argument: 'deformed_control_points'"),
    (lambda: velk.RbfDeformer(),
     "RbfDeformer.__new__() missing 2 required positional arguments: "
     "'original_control_points' and 'deformed_control_points'"),
    (lambda: velk.RbfDeformer(CUBE, CUBE, None, None, None),
     "RbfDeformer.__new__() takes from 2 to 4 positional arguments but 5 were given"),
    (lambda: velk.RbfDeformer(CUBE, CUBE, kernal="cubic"),
     "RbfDeformer.__new__() got an unexpected keyword argument 'kernal'"),
    (lambda: velk.RbfDeformer(CUBE, CUBE).deform(),
     "RbfDeformer.deform() missing 1 required positional argument: 'points'"),
    (lambda: velk.RbfDeformer(CUBE, CUBE).deform(CUBE, CUBE),
     "RbfDeformer.deform() takes 1 positional arguments but 2 were given"),
    (lambda: velk.RbfDeformer(CUBE, CUBE).deform("abc"),
     "argument 'points': Can't extract `str` to `Vec`"),
])
def test_type_errors(call, message):
    with pytest.raises(TypeError) as info:
        call()
    assert str(info.value) == message


def test_deform_point_of_wrong_length_raises_the_length_error_unprefixed():
    with pytest.raises(ValueError) as info:
        velk.RbfDeformer(CUBE, MOVED).deform([[0.0, 0.0]])
    assert str(info.value) == "expected a sequence of length 3 (got 2)"


def test_prediction_nan_is_a_value_error():
    # Two coincident centres going to different places: the weights are +inf and -inf, so every
    # kernel sum meets inf - inf.
    rbf = velk.RbfDeformer(TWICE, [[0.0, 0.0, 0.0], [1.0, 2.0, 3.0]])
    with pytest.raises(ValueError) as info:
        rbf.deform([[0.0, 0.0, 0.0]])
    assert str(info.value) == "🔴 Deformation error: Prediction failed: NaN values in output"
    assert rbf.deform([]) == []


def test_too_many_control_points_for_memory_is_a_memory_error():
    points = [[float(i), 0.0, 0.0] for i in range(100_000)]
    with pytest.raises(MemoryError):
        velk.RbfDeformer(points, points)


def test_calls_keep_reference_counts():
    import sys
    original, deformed, kernel = [list(p) for p in CUBE], [list(p) for p in MOVED], "cubic"
    watched = [original, deformed, kernel, original[0], deformed[0]]
    before = [sys.getrefcount(o) for o in watched]
    for _ in range(100):
        rbf = velk.RbfDeformer(original, deformed, kernel)
        rbf.deform(original)
        for bad in (lambda: velk.RbfDeformer(original, deformed, "spline"),
                    lambda: velk.RbfDeformer(original, "abc", kernel),
                    lambda: rbf.deform([original[0], [0.0]])):
            try:
                bad()
            except BaseException:  # noqa: B036 - includes the panic
                pass
    del rbf
    assert [sys.getrefcount(o) for o in watched] == before
