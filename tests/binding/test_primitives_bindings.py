"""The eight generator functions as Python sees them: signatures, conversions, error routes,
and requests too large for memory."""

import sys

import pytest
import velk
from helpers import panic

GENERATORS = {
    "generate_box": ("(length, centre, theta, resolution)", "Generate box primative"),
    "generate_icosphere": ("(radius, centre, subdivisions)", "Generate icosphere primative"),
    "generate_uvsphere": ("(radius, centre, sectors, stacks)", "Generate uv sphere primative"),
    "generate_cylinder": (
        "(radius, height, centre, sectors, stacks)", "Generate cylinder primative"),
    "generate_cone": ("(radius, height, centre, sectors)", "Generate cone primative"),
    "generate_capsule": (
        "(radius, cylinder_height, centre, sectors, stacks)", "Generate capsule primative"),
    "generate_torus": (
        "(major_radius, minor_radius, centre, major_segments, minor_segments)",
        "Generate torus primative"),
    "generate_naca_wing": (
        "(maximum_camber, camber_distance, maximum_thickness, n_points, wing_span)",
        "Generate naca wing primative"),
}

GOOD_ARGS = {
    "generate_box": ([1, 1, 1], [0, 0, 0], [0, 0, 0], [1, 1, 1]),
    "generate_icosphere": (1.0, (0, 0, 0), 0),
    "generate_uvsphere": (1.0, (0, 0, 0), 3, 2),
    "generate_cylinder": (1.0, 1.0, (0, 0, 0), 3, 1),
    "generate_cone": (1.0, 1.0, (0, 0, 0), 3),
    "generate_capsule": (1.0, 1.0, (0, 0, 0), 3, 1),
    "generate_torus": (2.0, 1.0, (0, 0, 0), 3, 3),
    "generate_naca_wing": (0, 0, 12, 10, (0.0, 1.0)),
}


@pytest.mark.parametrize("name", GENERATORS)
def test_signature_and_docstring(name):
    fn = getattr(velk, name)
    signature, doc = GENERATORS[name]
    assert fn.__text_signature__ == signature
    assert fn.__doc__ == doc


def test_registered_in_their_fixed_order():
    order = ["generate_box", "generate_capsule", "generate_cone", "generate_cylinder",
             "generate_icosphere", "generate_naca_wing", "generate_torus", "generate_uvsphere"]
    assert [n for n in velk.__all__ if n in GENERATORS] == order


@pytest.mark.parametrize("name", GENERATORS)
def test_every_parameter_by_keyword(name):
    signature = GENERATORS[name][0].strip("()").split(", ")
    by_position = getattr(velk, name)(*GOOD_ARGS[name])
    by_keyword = getattr(velk, name)(**dict(zip(signature, GOOD_ARGS[name])))
    assert isinstance(by_keyword, velk.Mesh)
    assert by_keyword.nodes == by_position.nodes and by_keyword.cells == by_position.cells


@pytest.mark.parametrize("name", GENERATORS)
def test_binding_errors(name):
    fn = getattr(velk, name)
    signature = GENERATORS[name][0].strip("()").split(", ")
    count = len(signature)
    with pytest.raises(TypeError) as info:
        fn(*GOOD_ARGS[name], 0)
    assert str(info.value) == (
        f"{name}() takes {count} positional arguments but {count + 1} were given"
    )
    with pytest.raises(TypeError) as info:
        fn(*GOOD_ARGS[name][:-1])
    assert str(info.value) == (
        f"{name}() missing 1 required positional argument: '{signature[-1]}'"
    )
    with pytest.raises(TypeError, match="got an unexpected keyword argument 'bogus'"):
        fn(*GOOD_ARGS[name], bogus=1)


def test_icosphere_by_keyword_gives_the_base_solid():
    mesh = velk.generate_icosphere(radius=1.0, centre=(0, 0, 0), subdivisions=0)
    assert len(mesh.nodes) == 12 and len(mesh.cells) == 20


def test_wing_span_must_be_a_tuple():
    with pytest.raises(TypeError) as info:
        velk.generate_naca_wing(0, 0, 12, 10, [0.0, 1.0])
    assert str(info.value) == (
        "argument 'wing_span': 'list' object cannot be converted to 'PyTuple'"
    )
    assert isinstance(info.value.__cause__, TypeError)
    with pytest.raises(ValueError) as info:
        velk.generate_naca_wing(0, 0, 12, 10, (0.0, 1.0, 2.0))
    assert str(info.value) == "expected tuple of length 2, but got tuple of length 3"


def test_wing_span_gives_z0_then_z1():
    nodes = velk.generate_naca_wing(0, 0, 12, 2, (-1.0, 4.0)).nodes
    assert [p[2] for p in nodes[:2]] == [-1.0, 4.0]


@pytest.mark.parametrize(
    "call, text",
    [
        (lambda: velk.generate_torus(2.0, 1.0, (0, 0, 0), 3.0, 3),
         "argument 'major_segments': "),
        (lambda: velk.generate_cone("r", 1.0, [0, 0], 3), "argument 'radius': "),
        (lambda: velk.generate_box([1, 1, 1], 5, [0, 0, 0], [1, 1, 1]),
         "argument 'centre': 'int' object cannot be converted to 'Sequence'"),
        (lambda: velk.generate_box([1, 1, 1], [0, 0, 0], [0, 0, 0], [1, 1, 1.0]),
         "argument 'resolution': "),
        (lambda: velk.generate_naca_wing(0, 0, 12, 10.0, (0.0, 1.0)), "argument 'n_points': "),
    ],
)
def test_type_errors_name_the_argument(call, text):
    with pytest.raises(TypeError) as info:
        call()
    assert str(info.value).startswith(text)


def test_length_errors_have_no_prefix_and_come_in_signature_order():
    with pytest.raises(ValueError) as info:
        velk.generate_cone(1.0, 1.0, [0, 0], -1)
    assert str(info.value) == "expected a sequence of length 3 (got 2)"


@pytest.mark.parametrize(
    "call",
    [
        lambda: velk.generate_uvsphere(1.0, (0, 0, 0), -1, 2),
        lambda: velk.generate_uvsphere(1.0, (0, 0, 0), 4294967296, 2),
        lambda: velk.generate_torus(2.0, 1.0, (0, 0, 0), 3, 2**32),
    ],
)
def test_out_of_range_counts(call):
    with pytest.raises(OverflowError) as info:
        call()
    assert str(info.value) == "out of range integral type conversion attempted"


def test_negative_resolution_and_n_points_overflow():
    with pytest.raises(OverflowError):
        velk.generate_box([1, 1, 1], [0, 0, 0], [0, 0, 0], [1, -1, 1])
    with pytest.raises(OverflowError):
        velk.generate_naca_wing(0, 0, 12, -1, (0.0, 1.0))


def test_generator_error_is_a_panic_not_an_exception():
    error = panic(lambda: velk.generate_uvsphere(1.0, [0, 0, 0], 2, 2))
    assert not isinstance(error, Exception)
    assert str(error) == (
        'called `Result::unwrap()` on an `Err` value: '
        'MeshGeneration("Sectors must be 3 or more, and stacks must be 2 or more.")'
    )
    try:
        velk.generate_icosphere(0.0, (0, 0, 0), 1)
    except Exception:  # pragma: no cover - the point is that this handler does not run
        pytest.fail("an internal failure was caught as Exception")
    except BaseException as e:
        assert str(e).endswith('MeshGeneration("Radius must be positive.")')


@pytest.mark.parametrize(
    "call",
    [
        lambda: velk.generate_icosphere(1.0, (0, 0, 0), 30),
        lambda: velk.generate_icosphere(1.0, (0, 0, 0), 20),
        lambda: velk.generate_icosphere(1.0, (0, 0, 0), 4294967295),
        lambda: velk.generate_box((1, 1, 1), (0, 0, 0), (0, 0, 0), (10**7, 10**7, 10**7)),
        lambda: velk.generate_box((1, 1, 1), (0, 0, 0), (0, 0, 0), (2**64 - 1, 1, 1)),
        lambda: velk.generate_uvsphere(1.0, (0, 0, 0), 2**32 - 1, 2**32 - 1),
        lambda: velk.generate_cylinder(1.0, 1.0, (0, 0, 0), 2**32 - 1, 2**32 - 1),
        lambda: velk.generate_cone(1.0, 1.0, (0, 0, 0), 2**32 - 1),
        lambda: velk.generate_capsule(1.0, 1.0, (0, 0, 0), 2**32 - 1, 2**32 - 1),
        lambda: velk.generate_torus(2.0, 1.0, (0, 0, 0), 2**32 - 1, 2**32 - 1),
        lambda: velk.generate_naca_wing(0, 0, 12, 2**64 - 1, (0.0, 1.0)),
        lambda: velk.generate_naca_wing(0, 0, 12, 2**40, (0.0, 1.0)),
    ],
)
def test_requests_too_large_for_memory_raise_memory_error(call):
    with pytest.raises(MemoryError):
        call()


def test_results_are_fresh_meshes():
    a = velk.generate_cone(1.0, 1.0, (0, 0, 0), 3)
    b = velk.generate_cone(1.0, 1.0, (0, 0, 0), 3)
    a.nodes = []
    assert len(b.nodes) == 5


def test_no_reference_is_kept_or_lost_on_any_path():
    centre, span = (0.5, 0.25, 0.0), (0.0, 1.0)
    before = sys.getrefcount(centre), sys.getrefcount(span)
    for _ in range(100):
        velk.generate_cone(1.0, 1.0, centre, 3)
        velk.generate_naca_wing(0, 0, 12, 4, span)
        for bad in (
            lambda: velk.generate_cone(0.0, 1.0, centre, 3),
            lambda: velk.generate_icosphere(1.0, centre, 40),
            lambda: velk.generate_naca_wing(0, 0, 12, "x", span),
        ):
            try:
                bad()
            except BaseException:
                pass
    assert (sys.getrefcount(centre), sys.getrefcount(span)) == before
