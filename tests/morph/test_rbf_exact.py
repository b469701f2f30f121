"""Bit-exact reference for small deformers: the standardisation, kernel matrix, equilibration,
pivoted elimination and both substitutions written out in plain Python floats in their fixed
order of operations. Any reordering of a sum or product in velk changes some bits here."""

import math

import pytest

import velk
from reference import EPS, rbf_kernels, solve_linear_system

# math.log(0) raises where the formula's value is 0.
KERNELS = dict(rbf_kernels(math),
               thin_plate_spline=lambda s, e: 0.0 if s == 0 else math.log(s) * (s * s))


def sq(p, q):
    d = [p[a] - q[a] for a in range(3)]
    s = (d[0] * d[0] + d[1] * d[1]) + d[2] * d[2]
    return EPS if s < EPS else s  # a NaN distance stays NaN


def stats(points, a):
    total = 0.0
    for p in points:
        total += p[a]
    mean = total / len(points)
    squares = 0.0
    for p in points:
        squares += (p[a] - mean) * (p[a] - mean)
    return mean, math.sqrt(squares / len(points))


def reference(original, deformed, queries, kernel, epsilon):
    phi = KERNELS[kernel]
    ins = [stats(original, a) for a in range(3)]
    ins = [(m, 1.0 if s < 1e-8 else s) for m, s in ins]
    outs = [stats(deformed, a) for a in range(3)]
    constant = [s < 1e-8 for _, s in outs]
    outs = [(m, 1.0 if c else s) for (m, s), c in zip(outs, constant)]
    centres = [[(p[a] - ins[a][0]) / ins[a][1] for a in range(3)] for p in original]
    values = [[0.0 if constant[a] else (p[a] - outs[a][0]) / outs[a][1] for a in range(3)]
              for p in deformed]
    weights = solve_linear_system([[phi(sq(p, q), epsilon) for q in centres] for p in centres], values)
    result = []
    for q in queries:
        qs = [(q[a] - ins[a][0]) / ins[a][1] for a in range(3)]
        acc = [0.0, 0.0, 0.0]
        for c, w in zip(centres, weights):
            k = phi(sq(qs, c), epsilon)
            acc = [acc[a] + k * w[a] for a in range(3)]
        result.append([outs[a][0] if constant[a] else acc[a] * outs[a][1] + outs[a][0]
                       for a in range(3)])
    return result


def cloud(count, seed):
    return [[math.sin(seed + i * 1.7) * 3.0, math.cos(seed * 2 + i * 0.9), math.sin(i * i + seed)]
            for i in range(count)]


@pytest.mark.parametrize("kernel,epsilon", [
    ("gaussian", 1.0),        # entries at most 1: solved unscaled
    ("gaussian", 0.4),
    ("multiquadric", 1.0),
    ("multiquadric", 100.0),  # row_max × col_max far above 1e5: equilibrated
    ("inverse_multiquadratic", 0.01),
    ("linear", 1.0),
    ("cubic", 1.0),
    ("thin_plate_spline", 1.0),
])
@pytest.mark.parametrize("count", [1, 4, 7])
def test_deform_is_bit_exact(kernel, epsilon, count):
    if kernel == "linear" and count > 5:
        pytest.skip("d² kernel matrices of more than five points in 3-D are singular")
    original = cloud(count, 1)
    deformed = [[x + 0.3 * y, y * 2.0, 5.0] for x, y, z in original]  # z constant
    queries = cloud(6, 5) + original
    rbf = velk.RbfDeformer(original, deformed, kernel, epsilon)
    assert rbf.deform(queries) == reference(original, deformed, queries, kernel, epsilon)


@pytest.mark.parametrize("kernel,epsilon", [("gaussian", 0.8), ("multiquadric", 100.0)])
def test_large_systems_factorised_in_blocks_are_bit_exact(kernel, epsilon):
    # 150 unknowns: several pivot blocks, the pool's parallel updates, and a partial last block.
    original = cloud(150, 3)
    deformed = [[x + 0.1 * z, y - 0.2 * x, z] for x, y, z in original]
    queries = cloud(5, 9)
    rbf = velk.RbfDeformer(original, deformed, kernel, epsilon)
    assert rbf.deform(queries) == reference(original, deformed, queries, kernel, epsilon)


@pytest.mark.parametrize("kernel,epsilon,count", [
    ("thin_plate_spline", 1.0, 63),
    ("gaussian", 0.6, 64),
    ("multiquadric", 50.0, 65),  # equilibrated
    ("gaussian", 0.9, 129),      # a full panel of pivots and a one-column trailing update
])
def test_systems_at_block_edges_are_bit_exact(kernel, epsilon, count):
    # Nine queries: one full group of vector lanes and one holding a single query.
    original = cloud(count, 2)
    deformed = [[x - 0.2 * y, y + 0.1 * z, z * 1.5] for x, y, z in original]
    queries = cloud(9, 4)
    rbf = velk.RbfDeformer(original, deformed, kernel, epsilon)
    assert rbf.deform(queries) == reference(original, deformed, queries, kernel, epsilon)


@pytest.mark.parametrize("kernel", ["gaussian", "thin_plate_spline", "inverse_multiquadratic"])
def test_a_nan_query_coordinate_in_any_vector_lane_fails_the_call(kernel):
    # The distance floor applies to numbers only: a NaN distance stays NaN in every lane, as in
    # the scalar formula, and the prediction reports it.
    original = cloud(12, 6)
    deformed = [[x * 1.1, y + 0.5 * z, z] for x, y, z in original]
    queries = cloud(17, 8)
    rbf = velk.RbfDeformer(original, deformed, kernel, 0.9)
    assert rbf.deform(queries) == reference(original, deformed, queries, kernel, 0.9)
    for i in (0, 3, 8, 16):
        for bad in ([float("nan"), queries[i][1], queries[i][2]], [float("nan")] * 3):
            with pytest.raises(ValueError, match="Prediction failed: NaN values in output"):
                rbf.deform(queries[:i] + [bad] + queries[i + 1:])
