"""The argument handling the velk_morph classes share: the exact refusal texts of the
(points, second) products and of the per-variable arguments, the evaluation methods with a
progress argument (reports, result, keyword and refusals) on every class that has them, and the
same argument on RbfMorph's fit of every kind (dense, sparse, reduced)."""

import pickle
import re

import numpy as np
import pytest

import velk
import velk_morph

CONTROLS = [[0, 0, 0], [1, 0, 0], [0, 1, 0], [0, 0, 1]]


def ffd():
    return velk_morph.Ffd(velk.DesignBlock([2, 2, 2], [0, 0, 0], [0, 0, 0], [2, 2, 2]))


def rbf():
    return velk_morph.RbfMorph(CONTROLS, [[0.1, 0, 0]] * 4)


def idw():
    return velk_morph.IdwMorph(CONTROLS, [[0.1, 0, 0]] * 4)


POINTS = np.array([[0.2, 0.1, 0.3], [0.5, 0.5, 0.5]])


@pytest.mark.parametrize(
    "make, method, second, message",
    [
        (ffd, "deform", "deformed_design_nodes",
         "deformed_design_nodes must have shape (27, 3), one row per lattice node, got (5, 3)"),
        (ffd, "jvp", "tangent", "tangent must have shape (27, 3), one row per lattice node, got (5, 3)"),
        (ffd, "vjp", "cotangent", "cotangent must have shape (2, 3), one row per point, got (5, 3)"),
        (rbf, "jvp", "tangent", "tangent must have shape (4, 3), one row per control point, got (5, 3)"),
        (rbf, "vjp", "cotangent", "cotangent must have shape (2, 3), one row per point, got (5, 3)"),
    ],
)
def test_product_second_argument_rows_refused_with_its_name(make, method, second, message):
    with pytest.raises(ValueError, match=re.escape(message)):
        getattr(make(), method)(POINTS, **{second: np.zeros((5, 3))})
    # The points are checked first, under their own name.
    with pytest.raises(ValueError, match="points"):
        getattr(make(), method)([[np.nan, 0, 0]], np.zeros((5, 3)))


def test_lattice_variable_counts_refused_with_their_own_texts():
    f = ffd()
    design = velk_morph.LatticeVariables(f.nodes)
    design.translate(range(27), direction=[0, 0, 1])
    design.scale([0], pivot=[0, 0, 0])
    with pytest.raises(ValueError, match=re.escape("values must have shape (2,), one per variable, got (3,)")):
        design.jvp(f, POINTS, [0.0, 0.0, 0.0], [1.0, 0.0])
    with pytest.raises(ValueError, match=re.escape("tangent must have shape (2,), got (1,)")):
        design.jvp(f, POINTS, [0.0, 0.0], [1.0])
    with pytest.raises(TypeError, match="ffd must be a velk_morph.Ffd"):
        design.vjp(object(), POINTS, [0.0, 0.0], np.zeros((2, 3)))
    with pytest.raises(ValueError, match=re.escape("cotangent must have shape (2, 3), one row per point")):
        design.vjp(f, POINTS, [0.0, 0.0], np.zeros((3, 3)))


@pytest.mark.parametrize("make", [rbf, idw], ids=["RbfMorph", "IdwMorph"])
@pytest.mark.parametrize("method", ["displacement", "deform"])
def test_evaluation_with_progress(make, method):
    morph = make()
    plain = getattr(morph, method)(POINTS)
    calls = []
    reported = getattr(morph, method)(points=POINTS, progress=lambda done, total: calls.append((done, total)))
    assert reported.tobytes() == plain.tobytes() and reported.shape == (2, 3)
    assert calls and calls[-1][0] == calls[-1][1] > 0
    expected = [[0.1, 0, 0]] * 2 if method == "displacement" else POINTS + [0.1, 0, 0]
    np.testing.assert_allclose(plain, expected, atol=1e-12)
    with pytest.raises(TypeError):
        getattr(morph, method)(POINTS, progress=3)
    with pytest.raises(ValueError, match="points"):
        getattr(morph, method)([[0.0, 0.0]])


# The fits of every kind, small enough to be quick: a dense fit, sparse fits of a compact kernel
# with and without a polynomial (its own iterative solves), and reduced fits whose selection
# stops at the tolerance or takes every control.
FIT_CASES = """
import numpy as np

def fit_case(kind):
    rng = np.random.default_rng(3)
    axis = np.linspace(0, 4, 15)
    grid = np.stack(np.meshgrid(axis, axis, axis, indexing="ij"), -1).reshape(-1, 3)
    grid = grid + rng.uniform(-0.05, 0.05, grid.shape)  # 3375 controls: sparse when compact
    scattered = rng.normal(size=(500, 3))
    return {
        "dense": (scattered, np.sin(scattered), {}),
        "sparse": (grid, np.sin(grid), dict(kernel="wendland_c2", epsilon=1.5, degree=1)),
        "sparse_without_polynomial": (grid, np.cos(grid), dict(kernel="wendland_c4", epsilon=1.5)),
        "reduced": (grid, 0.1 * np.sin(grid), dict(tolerance=1e-3)),
        "reduced_to_every_control": (scattered[:300], np.sin(scattered[:300]), dict(tolerance=0.0)),
    }[kind]
"""
exec(FIT_CASES)
FIT_KINDS = ["dense", "sparse", "sparse_without_polynomial", "reduced", "reduced_to_every_control"]


@pytest.mark.parametrize("kind", FIT_KINDS)
def test_fit_progress_rises_to_its_total_on_the_calling_thread_and_keeps_the_bytes(
        kind, outputs_by_thread_count):
    # In a child at one and two threads: a one-thread pool reports from inside the blocks, a
    # larger one from the calling thread's step beside them; the pickled state is the same bytes
    # with and without reports, at either thread count.
    code = FIT_CASES + f"""
import hashlib, pickle, threading, velk_morph
controls, moves, options = fit_case({kind!r})
plain = pickle.dumps(velk_morph.RbfMorph(controls, moves, **options))
calls = []
report = lambda done, total: calls.append((done, total, threading.get_ident()))
reported = pickle.dumps(velk_morph.RbfMorph(controls, moves, progress=report, **options))
silent = pickle.dumps(velk_morph.RbfMorph(controls, moves, progress=False, **options))
done = [c[0] for c in calls]
assert reported == plain == silent
assert done == sorted(set(done)) and done[0] < 1000 and calls[-1][:2] == (1000, 1000), done
assert {{c[1] for c in calls}} == {{1000}} and {{c[2] for c in calls}} == {{threading.get_ident()}}
print(hashlib.sha256(plain).hexdigest())
"""
    assert len(outputs_by_thread_count(code, counts=("1", "2"))) == 1


class Stop(Exception):
    pass


@pytest.mark.parametrize("kind", FIT_KINDS)
@pytest.mark.parametrize("stop_at", [0, 500], ids=["first report", "past half"])
def test_an_exception_from_the_fit_progress_reaches_the_caller_and_builds_nothing(kind, stop_at):
    controls, moves, options = fit_case(kind)

    def stop(done, total):
        if done >= stop_at:
            raise Stop(done)

    half_built = velk_morph.RbfMorph.__new__(velk_morph.RbfMorph)
    with pytest.raises(Stop) as stopped:
        half_built.__init__(controls, moves, progress=stop, **options)
    assert stopped.value.args[0] >= stop_at
    with pytest.warns(RuntimeWarning, match="uninitialized"), pytest.raises(TypeError):
        half_built.displacement(controls[:3])
    # Nothing of the stopped fit is left behind: later fits give the same bytes as ever.
    quiet = velk_morph.RbfMorph(controls, moves, progress=lambda done, total: None, **options)
    assert pickle.dumps(quiet) == pickle.dumps(velk_morph.RbfMorph(controls, moves, **options))


@pytest.mark.parametrize("progress", [3, "yes", object()])
def test_a_fit_refuses_another_kind_of_progress(progress):
    with pytest.raises(TypeError, match="progress must be None, a bool, or a callable"):
        velk_morph.RbfMorph(CONTROLS, [[0.1, 0, 0]] * 4, progress=progress)


def test_a_fit_progress_bar_with_and_without_tqdm(refusal_without_tqdm):
    pytest.importorskip("tqdm")
    controls, moves, options = fit_case("reduced")
    with_bar = velk_morph.RbfMorph(controls, moves, progress=True, **options)
    assert pickle.dumps(with_bar) == pickle.dumps(velk_morph.RbfMorph(controls, moves, **options))
    assert "tqdm is not installed" in refusal_without_tqdm(
        f"velk_morph.RbfMorph({CONTROLS}, [[1, 0, 0]] * 4, progress=True)")
