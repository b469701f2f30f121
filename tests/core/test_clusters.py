"""Block and sphere node clusters: lattice order, values, rotation, errors and bindings."""

import pytest

import velk
from helpers import panic


def unwrap_text(message):
    return 'called `Result::unwrap()` on an `Err` value: MeshGeneration("' + message + '")'


def test_unit_block_gives_the_corners_in_lattice_order():
    nodes = velk.generate_block_cluster([2, 4, 6], [1, 1, 1], [0, 0, 0], [1, 1, 1])
    assert nodes == [
        [0, -1, -2], [0, -1, 4], [0, 3, -2], [0, 3, 4],
        [2, -1, -2], [2, -1, 4], [2, 3, -2], [2, 3, 4],
    ]


def test_block_lattice_values_and_centre_index():
    nodes = velk.generate_block_cluster([2, 2, 2], [0, 0, 0], [0, 0, 0], [2, 2, 2])
    assert len(nodes) == 27 and nodes[13] == [0, 0, 0]
    nodes = velk.generate_block_cluster([1, 0.3, 0.7], [0.1, 0.2, 0.3], [0, 0, 0], [3, 5, 7])
    x0, y0, z0 = 0.1 - 1 * 0.5, 0.2 - 0.3 * 0.5, 0.3 - 0.5 * 0.7
    expected = [
        [(1 / 3) * i + x0, (0.3 / 5) * j + y0, (0.7 / 7) * k + z0]
        for i in range(4) for j in range(6) for k in range(8)
    ]
    assert nodes == expected


@pytest.mark.parametrize("theta", [[0, 0, 30], [10, 0, 0], [15, -25, 40], [0.0, 90.0, 0.0]])
def test_rotated_block_is_the_unrotated_lattice_turned_about_its_centre(theta):
    centre = [0.5, -1.0, 2.0]
    flat = velk.generate_block_cluster([1, 2, 3], centre, [0, 0, 0], [2, 3, 4])
    turned = velk.generate_block_cluster([1, 2, 3], centre, theta, [2, 3, 4])
    assert turned == velk.rotate_nodes(flat, theta, centre)


@pytest.mark.parametrize(
    "length, resolution, message",
    [
        ([1, 1, 0], [1, 1, 1], "Invalid length: dimensions must be positive."),
        ([-1, 1, 1], [0, 0, 0], "Invalid length: dimensions must be positive."),
        ([1, 1, 1], [0, 1, 1], "Invalid resolution: dimensions must be non-zero."),
        ([1, 1, 1], [1, 1, 0], "Invalid resolution: dimensions must be non-zero."),
    ],
)
def test_block_cluster_errors_are_internal_failures(length, resolution, message):
    failure = panic(lambda: velk.generate_block_cluster(length, [0, 0, 0], [0, 0, 0], resolution))
    assert failure.args == (unwrap_text(message),)


def test_nan_length_is_not_rejected():
    nodes = velk.generate_block_cluster([float("nan"), 1, 1], [0, 0, 0], [0, 0, 0], [1, 1, 1])
    assert len(nodes) == 8


def test_sphere_cluster_small_cases():
    assert velk.generate_sphere_cluster(1.0, [0, 0, 0], 1) == []
    assert velk.generate_sphere_cluster(1.0, [0, 0, 0], 2) == [
        [-1, 0, 0], [0, -1, 0], [0, 0, -1], [0, 0, 0], [0, 0, 1], [0, 1, 0], [1, 0, 0],
    ]


@pytest.mark.parametrize("radius, centre, n", [(1.0, [0, 0, 0], 7), (0.7, [1.5, -2, 0.25], 10)])
def test_sphere_cluster_matches_the_lattice_ball_test(radius, centre, n):
    cx, cy, cz = centre
    e = (radius + radius) / n
    expected = []
    for i in range(n + 1):
        for j in range(n + 1):
            for k in range(n + 1):
                x, y, z = (cx - radius) + i * e, (cy - radius) + j * e, (cz - radius) + k * e
                if radius * radius >= (z - cz) ** 2 + ((y - cy) ** 2 + (x - cx) ** 2):
                    expected.append([x, y, z])
    assert velk.generate_sphere_cluster(radius, centre, n) == expected


@pytest.mark.parametrize(
    "radius, resolution, message",
    [
        (0.0, 0, "Invalid radius: must be positive."),
        (-1.0, 3, "Invalid radius: must be positive."),
        (1.0, 0, "Invalid resolution: must be non-zero."),
    ],
)
def test_sphere_cluster_errors(radius, resolution, message):
    with pytest.raises(BaseException) as info:
        velk.generate_sphere_cluster(radius, [0, 0, 0], resolution)
    assert info.value.args == (unwrap_text(message),)


@pytest.mark.parametrize(
    "call",
    [
        lambda: velk.generate_block_cluster([1, 1, 1], [0, 0, 0], [0, 0, 0], [2**62, 2**62, 1]),
        lambda: velk.generate_block_cluster([1, 1, 1], [0, 0, 0], [0, 0, 0], [2**64 - 1, 1, 1]),
        lambda: velk.generate_block_cluster([1, 1, 1], [0, 0, 0], [0, 0, 0], [2**20, 2**20, 2**12]),
        lambda: velk.generate_sphere_cluster(1.0, [0, 0, 0], 2**64 - 1),
        lambda: velk.generate_sphere_cluster(1.0, [0, 0, 0], 10**6),
    ],
)
def test_clusters_too_large_for_memory_raise_memory_error(call):
    with pytest.raises(MemoryError):
        call()


def test_cluster_bindings():
    assert velk.generate_block_cluster.__doc__ == "Generate block node cluster"
    assert velk.generate_block_cluster.__text_signature__ == "(length, centre, theta, resolution)"
    assert velk.generate_sphere_cluster.__doc__ == "Generate sphere node cluster"
    assert velk.generate_sphere_cluster.__text_signature__ == "(radius, centre, resolution)"
    assert velk.generate_sphere_cluster(resolution=2, centre=(0, 0, 0), radius=1)[3] == [0, 0, 0]
    names = velk.__all__
    assert names.index("generate_block_cluster") + 1 == names.index("generate_sphere_cluster")


@pytest.mark.parametrize(
    "call, exc, text",
    [
        (lambda: velk.generate_block_cluster([1, 1, 1], [0, 0, 0], [0, 0, 0], [1, 1.0, 1]),
         TypeError, "argument 'resolution': "),
        (lambda: velk.generate_block_cluster([1, 1], [0, 0, 0], [0, 0, 0], [1, 1, 1]),
         ValueError, "expected a sequence of length 3 (got 2)"),
        (lambda: velk.generate_block_cluster([1, 1, 1], 5, [0, 0, 0], [1, 1, 1]),
         TypeError, "argument 'centre': 'int' object cannot be converted to 'Sequence'"),
        (lambda: velk.generate_sphere_cluster("1", [0, 0, 0], 1), TypeError, "argument 'radius': "),
        (lambda: velk.generate_sphere_cluster(1.0, [0, 0, 0], -1), OverflowError, ""),
        (lambda: velk.generate_sphere_cluster(1.0, [0, 0, 0]), TypeError,
         "generate_sphere_cluster() missing 1 required positional argument: 'resolution'"),
    ],
)
def test_cluster_argument_errors(call, exc, text):
    with pytest.raises(exc) as info:
        call()
    assert type(info.value) is exc
    assert str(info.value).startswith(text)
