"""The vectorised and parallel RBF kernels (kernel matrix, blocked LU factorisation, prediction)
against the one-at-a-time loops they replaced, bit for bit: the same fits and deformations run
in fresh interpreters with the kept reference loops (VELK_REFERENCE_KERNELS=1), and with the new
kernels on 1, 2 and 7 threads, on the AVX2 path and on the plain one (VELK_PLAIN_KERNELS=1).
Sizes cross every block edge of the factorisation and the prediction; the query count is not a
multiple of the vector width."""

import json
import math
import re
import textwrap

import pytest

import velk
from helpers import run_python

# Prints, per case, a digest of the deformed points' exact bytes, or the failure text.
CHILD = textwrap.dedent("""
    import hashlib, json, math, struct, sys
    import velk

    def cloud(count, seed):
        return [[math.sin(seed + i * 1.7) * 3.0, math.cos(seed * 2 + i * 0.9),
                 math.sin(i * i * 0.37 + seed)] for i in range(count)]

    def run(case):
        ctrl = cloud(case["n"], 1)
        for i, j in case.get("duplicates", []):
            ctrl[j] = list(ctrl[i])
        moved = [[x + 0.3 * math.sin(y), y - 0.1 * z, z + 0.2 * x] for x, y, z in ctrl]
        queries = cloud(case["queries"], 7) + ctrl[:5]
        for i, q in case.get("bad_queries", []):
            queries[i] = q
        try:
            rbf = velk.RbfDeformer(ctrl, moved, case["kernel"], case["epsilon"])
            out = rbf.deform(queries)
        except BaseException as e:  # the fit's failure is an internal failure (BaseException)
            return type(e).__name__ + ": " + str(e)
        flat = [v for p in out for v in p]
        return hashlib.sha256(struct.pack(f"{len(flat)}d", *flat)).hexdigest()

    print(json.dumps([run(c) for c in json.loads(sys.argv[1])]))
""")

INF = float("inf")
SIZES = (1, 2, 63, 64, 65, 127, 129, 1000, 2001)
CASES = (
    [{"n": n, "kernel": "gaussian", "epsilon": 1.0, "queries": 1003} for n in SIZES]
    # the next fit's matrix reuses the block the 2001-point one released, old entries and all
    + [{"n": 1990, "kernel": "thin_plate_spline", "epsilon": 1.0, "queries": 19}]
    + [{"n": n, "kernel": "thin_plate_spline", "epsilon": 1.0, "queries": 301}
       for n in (1, 2, 63, 64, 65, 127, 129, 1000)]
    # centre counts around a chunk of the prediction
    + [{"n": n, "kernel": k, "epsilon": 0.7, "queries": 17}
       for n in (255, 256, 257) for k in ("gaussian", "thin_plate_spline")]
    # row_max × col_max far above 1e5: equilibrated before the factorisation
    + [{"n": n, "kernel": "multiquadric", "epsilon": 3.0, "queries": 77} for n in (65, 129, 1000)]
    + [{"n": 130, "kernel": k, "epsilon": e, "queries": 13}
       for k, e in (("inverse_multiquadratic", 0.5), ("cubic", 1.0), ("linear", 1.0))]
    # equal control points: singular systems. One pair fails in the backward substitution;
    # three pairs meet an exact zero pivot in the third panel of pivots.
    + [{"n": 300, "kernel": "gaussian", "epsilon": 1.0, "queries": 5, "duplicates": d}
       for d in ([[7, 250]], [[7, 250], [20, 260], [33, 270]])]
    # an infinite query: its kernel sum holds a NaN, in the last, partly filled group of lanes
    + [{"n": 200, "kernel": "multiquadric", "epsilon": 1.0, "queries": 1001,
        "bad_queries": [[1002, [INF, 0.0, 0.0]]]}]
)


def run(env_vars):
    return json.loads(run_python(CHILD, json.dumps(CASES), **env_vars).stdout)


@pytest.fixture(scope="module")
def reference():
    return run({"VELK_REFERENCE_KERNELS": "1", "RAYON_NUM_THREADS": "1"})


def test_reference_cases_exercise_fits_and_failures(reference):
    # The comparison is only worth something if the large fits succeed and the failure cases
    # really fail the way they are meant to.
    by_case = dict(zip((json.dumps(c) for c in CASES), reference))
    for case, result in by_case.items():
        case = json.loads(case)
        if "duplicates" in case:
            assert result.startswith("PanicException: ")
            if len(case["duplicates"]) == 1:
                assert "NaN detected in backward substitution" in result
            else:
                column = re.search(r"Exact zero pivot encountered at column (\d+)", result)
                assert column and int(column.group(1)) >= 256, result
        elif "bad_queries" in case:
            assert result.startswith("ValueError: ")
            assert result.endswith("Prediction failed: NaN values in output")
        elif case["kernel"] != "linear":
            assert len(result) == 64, (case, result)


@pytest.mark.parametrize("plain", ["0", "1"], ids=["avx2", "plain"])
@pytest.mark.parametrize("threads", ["1", "2", "7"])
def test_new_kernels_give_the_reference_bits(reference, threads, plain):
    results = run({"RAYON_NUM_THREADS": threads, "VELK_PLAIN_KERNELS": plain})
    for case, expected, got in zip(CASES, reference, results):
        assert got == expected, case



def cloud(count, seed):
    return [[math.sin(seed + i * 1.7) * 3.0, math.cos(seed * 2 + i * 0.9),
             math.sin(i * i * 0.37 + seed)] for i in range(count)]


@pytest.fixture(scope="module")
def fitted():
    ctrl = cloud(300, 3)
    moved = [[x + 0.2 * y, y, z - 0.1 * x] for x, y, z in ctrl]
    return {k: velk.RbfDeformer(ctrl, moved, k, 0.8) for k in
            ("gaussian", "multiquadric", "inverse_multiquadratic", "linear", "cubic",
             "thin_plate_spline")}


@pytest.mark.parametrize("kernel", ["gaussian", "multiquadric", "inverse_multiquadratic",
                                    "linear", "cubic", "thin_plate_spline"])
def test_each_query_is_independent_of_its_neighbours(fitted, kernel):
    # Queries share vector lanes and blocks of parallel work; a query's result must not depend
    # on which other queries come with it, or on where in a group of lanes it falls.
    rbf = fitted[kernel]
    queries = cloud(3000, 11)
    whole = rbf.deform(queries)
    assert [rbf.deform([q])[0] for q in queries[:20]] == whole[:20]
    for start, stop in ((3, 12), (7, 8), (2990, 3000), (1000, 1257)):
        assert rbf.deform(queries[start:stop]) == whole[start:stop]


@pytest.mark.parametrize("position", [0, 5, 8, 2999, 1500])
def test_a_nan_sum_anywhere_fails_the_whole_call(fitted, position):
    # An infinite coordinate makes the multiquadric sum inf - inf; wherever that query sits
    # (first lane, a middle lane, another block of work, the last partial group), the call
    # fails the same way and returns nothing.
    queries = cloud(3000, 11)
    queries[position] = [float("inf"), 0.0, 0.0]
    with pytest.raises(ValueError, match="Prediction failed: NaN values in output"):
        fitted["multiquadric"].deform(queries)
