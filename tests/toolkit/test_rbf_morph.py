"""RbfMorph: agreement with scipy's RBFInterpolator and with an independent numpy solve, the
exactness properties (controls, affine motion, far field of compact kernels), degree defaults,
read-only parameters, pickling, and every refused input."""

import pickle
import subprocess
import sys

import numpy as np
import pytest

import velk_morph

SCIPY_KERNELS = ["linear", "thin_plate_spline", "cubic", "quintic", "multiquadric",
                 "inverse_multiquadric", "inverse_quadratic", "gaussian"]
WENDLAND = ["wendland_c0", "wendland_c2", "wendland_c4"]
KERNELS = SCIPY_KERNELS + WENDLAND


def jittered_grid(rng, per_axis=4, spacing=1.0):
    """Well-separated control points: a grid with a little jitter."""
    axis = np.arange(per_axis) * spacing
    grid = np.stack(np.meshgrid(axis, axis, axis, indexing="ij"), -1).reshape(-1, 3)
    return grid + rng.uniform(-0.2, 0.2, grid.shape) * spacing


def smooth_displacements(points):
    x, y, z = points.T
    return np.stack([0.1 * np.sin(x) + 0.05 * y, 0.2 * np.cos(y) * z, 0.1 * x * y - 0.03 * z], -1)


def wendland(kernel, r):
    t = np.clip(1 - r, 0, None)
    return {"wendland_c0": t**2, "wendland_c2": t**4 * (4 * r + 1),
            "wendland_c4": t**6 * (35 * r**2 + 18 * r + 3) / 3}[kernel]


def numpy_morph(controls, displacements, kernel, epsilon, degree, points):
    """The interpolant solved independently with numpy (monomials in raw coordinates)."""
    def monomials(p):
        cols = [np.ones(len(p))] if degree >= 0 else []
        if degree >= 1:
            cols += [p[:, 0], p[:, 1], p[:, 2]]
        return np.stack(cols, -1) if cols else np.zeros((len(p), 0))

    def phi(a, b):
        return wendland(kernel, epsilon * np.linalg.norm(a[:, None] - b[None], axis=-1))

    n, p = len(controls), monomials(controls)
    m = p.shape[1]
    system = np.zeros((n + m, n + m))
    system[:n, :n], system[:n, n:], system[n:, :n] = phi(controls, controls), p, p.T
    rhs = np.concatenate([displacements, np.zeros((m, 3))])
    coef = np.linalg.solve(system, rhs)
    return phi(points, controls) @ coef[:n] + monomials(points) @ coef[n:]


@pytest.fixture(scope="module")
def data():
    rng = np.random.default_rng(5)
    controls = jittered_grid(rng)
    queries = rng.uniform(-0.5, 3.5, (500, 3))
    return controls, smooth_displacements(controls), queries


@pytest.mark.parametrize("degree", [None, 2])
@pytest.mark.parametrize("kernel", SCIPY_KERNELS)
def test_agrees_with_scipy(data, kernel, degree):
    scipy_interpolate = pytest.importorskip("scipy.interpolate")
    controls, moved, queries = data
    epsilon = 0.8
    morph = velk_morph.RbfMorph(controls, moved, kernel=kernel, epsilon=epsilon, degree=degree)
    reference = scipy_interpolate.RBFInterpolator(controls, moved, kernel=kernel, epsilon=epsilon,
                                                  degree=morph.degree)
    expected = reference(queries)
    got = morph.displacement(queries)
    assert np.abs(got - expected).max() <= 1e-8 * np.abs(expected).max()


@pytest.mark.parametrize("degree", [-1, 1])
@pytest.mark.parametrize("kernel", WENDLAND)
def test_wendland_agrees_with_a_numpy_solve(data, kernel, degree):
    controls, moved, queries = data
    morph = velk_morph.RbfMorph(controls, moved, kernel=kernel, epsilon=0.5, degree=degree)
    expected = numpy_morph(controls, moved, kernel, 0.5, degree, queries)
    assert np.abs(morph.displacement(queries) - expected).max() <= 1e-9 * np.abs(expected).max()


def test_sparse_wendland_fit_agrees_with_a_numpy_solve():
    # More controls than the dense limit: the sparse fit, checked against the dense numpy one.
    rng = np.random.default_rng(8)
    controls = jittered_grid(rng, per_axis=14, spacing=0.5)
    moved = smooth_displacements(controls)
    queries = rng.uniform(-0.5, 7.0, (300, 3))
    for degree in [-1, 1]:
        morph = velk_morph.RbfMorph(controls, moved, kernel="wendland_c2", epsilon=1.0,
                                    degree=degree)
        expected = numpy_morph(controls, moved, "wendland_c2", 1.0, degree, queries)
        assert np.abs(morph.displacement(queries) - expected).max() <= 1e-8 * np.abs(moved).max()


def scattered(rng, n, size):
    """n random control points in a cube, none closer than the spacing that keeps the fit
    well conditioned for the kernel scale used with them."""
    return jittered_grid(rng, per_axis=round(n ** (1 / 3)), spacing=size / round(n ** (1 / 3)))


@pytest.mark.parametrize("kernel", KERNELS)
@pytest.mark.parametrize("n", [64, 3375])
def test_every_control_receives_its_displacement(kernel, n):
    if n > 1000 and kernel not in WENDLAND + ["thin_plate_spline"]:
        pytest.skip("large dense fits are covered by thin_plate_spline")
    rng = np.random.default_rng(n)
    controls = scattered(rng, n, 4.0)
    moved = rng.normal(size=controls.shape)
    epsilon = 1.0 if kernel in WENDLAND else 0.8
    morph = velk_morph.RbfMorph(controls, moved, kernel=kernel, epsilon=epsilon)
    assert np.abs(morph.displacement(controls) - moved).max() <= 1e-10 * np.abs(moved).max()


def rotation(angle):
    c, s = np.cos(angle), np.sin(angle)
    return np.array([[c, -s, 0], [s, c, 0], [0, 0, 1]]) @ np.array(
        [[1, 0, 0], [0, c, s], [0, -s, c]])


AFFINE = {
    "translation": lambda p: p + [0.3, -1.2, 2.0],
    "rotation": lambda p: p @ rotation(0.7).T,
    "scaling": lambda p: (p - 1.5) * [1.3, 0.8, 1.1] + 1.5,
}


@pytest.mark.parametrize("motion", sorted(AFFINE))
@pytest.mark.parametrize("kernel,degree", [(k, 1) for k in KERNELS if k != "quintic"]
                         + [("quintic", 2), ("thin_plate_spline", 2), ("wendland_c2", 2)])
def test_affine_motion_is_reproduced_everywhere(data, kernel, degree, motion):
    controls, _, _ = data
    far = np.random.default_rng(2).uniform(-20, 20, (400, 3))
    move = AFFINE[motion]
    morph = velk_morph.RbfMorph(controls, move(controls) - controls, kernel=kernel,
                                epsilon=0.8, degree=degree)
    expected = move(far)
    assert np.abs(morph.deform(far) - expected).max() <= 1e-9 * np.abs(expected).max()


@pytest.mark.parametrize("n", [64, 3375])
@pytest.mark.parametrize("kernel", WENDLAND)
def test_compact_kernel_leaves_the_far_field_exactly(kernel, n):
    rng = np.random.default_rng(4)
    controls = scattered(rng, n, 4.0)
    morph = velk_morph.RbfMorph(controls, rng.normal(size=controls.shape), kernel=kernel,
                                epsilon=2.0)
    assert morph.degree == -1
    # Farther than 1/epsilon = 0.5 from every control; -0.0 included, which must stay -0.0.
    far = np.concatenate([rng.uniform(5, 9, (200, 3)), [[-0.0, -0.6, -0.0], [4.6, -0.0, 2.0]]])
    assert not np.any(morph.displacement(far))
    assert morph.deform(far).tobytes() == far.tobytes()
    # Near the controls, points do move.
    assert np.all(np.abs(morph.displacement(controls[:10])).max(axis=1) > 0)


@pytest.mark.parametrize("kernel", ["thin_plate_spline", "gaussian", "wendland_c2"])
def test_deform_is_points_plus_displacement_bit_for_bit(data, kernel):
    controls, moved, queries = data
    morph = velk_morph.RbfMorph(controls, moved, kernel=kernel, epsilon=0.8)
    assert morph.deform(queries).tobytes() == (queries + morph.displacement(queries)).tobytes()


@pytest.mark.parametrize("kernel", ["thin_plate_spline", "multiquadric", "wendland_c2"])
def test_unmoved_controls_leave_every_point_in_place(data, kernel):
    controls, _, queries = data
    morph = velk_morph.RbfMorph(controls, np.zeros_like(controls), kernel=kernel, epsilon=0.8)
    assert np.array_equal(morph.deform(queries), queries)


@pytest.mark.parametrize("kernel,default", [
    ("linear", 0), ("thin_plate_spline", 1), ("cubic", 1), ("quintic", 2), ("multiquadric", 0),
    ("inverse_multiquadric", 0), ("inverse_quadratic", 0), ("gaussian", 0),
    ("wendland_c0", -1), ("wendland_c2", -1), ("wendland_c4", -1)])
def test_parameters_and_default_degree(data, kernel, default):
    controls, moved, _ = data
    morph = velk_morph.RbfMorph(controls, moved, kernel=kernel, epsilon=0.8)
    assert (morph.kernel, morph.epsilon, morph.degree, morph.n_controls) == (
        kernel, 0.8, default, len(controls))
    for name, value in [("kernel", "linear"), ("epsilon", 2.0), ("degree", 1), ("n_controls", 3)]:
        with pytest.raises(AttributeError):
            setattr(morph, name, value)


@pytest.mark.parametrize("kernel,degree", [("thin_plate_spline", 1), ("gaussian", -1),
                                           ("wendland_c2", -1), ("quintic", 2)])
def test_pickle_round_trip_gives_the_same_bits(data, kernel, degree):
    controls, moved, queries = data
    morph = velk_morph.RbfMorph(controls, moved, kernel=kernel, epsilon=0.8, degree=degree)
    copy = pickle.loads(pickle.dumps(morph))
    assert (copy.kernel, copy.epsilon, copy.degree, copy.n_controls) == (
        morph.kernel, morph.epsilon, morph.degree, morph.n_controls)
    assert copy.displacement(queries).tobytes() == morph.displacement(queries).tobytes()


def test_a_foreign_state_is_refused():
    morph = velk_morph.RbfMorph.__new__(velk_morph.RbfMorph)
    with pytest.raises(ValueError, match="not the state of an RbfMorph"):
        morph.__setstate__(("something else",))
    state = velk_morph.RbfMorph([[0, 0, 0], [1, 0, 0], [0, 1, 0], [0, 0, 1]],
                                np.eye(4, 3)).__getstate__()
    broken = state[:6] + (np.zeros((3, 3)),) + state[7:]  # weights of the wrong length
    with pytest.raises(ValueError, match="not the state of an RbfMorph"):
        morph.__setstate__(broken)


TETRA = [[0, 0, 0], [1, 0, 0], [0, 1, 0], [0, 0, 1]]
FIVE = TETRA + [[1, 1, 1]]


def with_value(rows, row, value):
    a = np.array(rows, dtype=float)
    a[row, 1] = value
    return a


@pytest.mark.parametrize("args,kwargs,message", [
    ((with_value(FIVE, 3, np.nan), np.zeros((5, 3))), {}, r"control_points.*row 3.*NaN"),
    ((FIVE, with_value(np.zeros((5, 3)), 4, np.inf)), {}, r"displacements.*row 4.*infinity"),
    ((np.zeros((5, 2)), np.zeros((5, 3))), {}, r"control_points.*\(5, 2\)"),
    ((FIVE, np.zeros(15)), {}, r"displacements.*\(15,\)"),
    ((FIVE, np.zeros((4, 3))), {}, r"displacements"),
    ((FIVE, np.zeros((5, 3))), {"kernel": "bessel"}, r"'bessel'"),
    ((FIVE, np.zeros((5, 3))), {"degree": 0}, r"degree 0.*minimum degree 1.*thin_plate_spline"),
    ((FIVE, np.zeros((5, 3))), {"kernel": "quintic", "degree": 1}, r"degree 1.*2.*quintic"),
    ((FIVE, np.zeros((5, 3))), {"degree": 3}, r"degree must be -1, 0, 1 or 2"),
    ((FIVE, np.zeros((5, 3))), {"epsilon": 0.0}, r"epsilon"),
    ((TETRA[:3], np.zeros((3, 3))), {}, r"polynomial undetermined"),
    ((np.c_[np.random.default_rng(0).random((20, 2)), np.full(20, 0.5)] @ rotation(0.3),
      np.zeros((20, 3))), {}, r"polynomial undetermined.*plane"),
    ((FIVE * 2, np.ones((10, 3))), {}, r"control points 0 and 5 coincide"),
    ((FIVE[:3] + [[0, 0, -0.0]] + FIVE[3:], np.ones((6, 3))), {"degree": -1, "kernel": "gaussian"},
     r"control points 0 and 3 coincide"),
])
def test_bad_input_is_refused_naming_it(args, kwargs, message):
    with pytest.raises(ValueError, match=message):
        velk_morph.RbfMorph(*args, **kwargs)


def test_bad_points_are_refused_naming_the_argument_and_row():
    morph = velk_morph.RbfMorph(FIVE, np.ones((5, 3)))
    with pytest.raises(ValueError, match=r"points.*row 1.*NaN"):
        morph.displacement([[0, 0, 0], [0, np.nan, 0]])
    with pytest.raises(ValueError, match=r"points.*\(2, 4\)"):
        morph.deform(np.zeros((2, 4)))


@pytest.mark.parametrize("kernel,epsilon", [("gaussian", 1e-9), ("inverse_quadratic", 1e-9)])
def test_a_singular_system_is_refused_never_nan(kernel, epsilon):
    # So flat a kernel that every row of the matrix is the same to rounding.
    controls = np.random.default_rng(1).random((40, 3))
    with pytest.raises(ValueError, match="singular"):
        velk_morph.RbfMorph(controls, np.random.default_rng(2).random((40, 3)), kernel=kernel,
                            epsilon=epsilon, degree=-1)


def test_a_dense_fit_too_big_for_memory_is_refused_at_once():
    controls = np.random.default_rng(0).random((2_000_000, 3))
    with pytest.raises(MemoryError, match=r"2000000 control points.*GB.*wendland"):
        velk_morph.RbfMorph(controls, controls)


STRICT_SCRIPT = '''
import pickle

import numpy as np
import numpy.typing as npt

import velk_morph

controls = np.random.default_rng(0).random((50, 3))
morph = velk_morph.RbfMorph(controls, controls * 0.01, kernel="wendland_c2", epsilon=2.0,
                            degree=None)
moved: npt.NDArray[np.float64] = morph.deform(controls)
shift: npt.NDArray[np.float64] = morph.displacement([[0.0, 0.0, 0.0]])
kernel: str = morph.kernel
epsilon: float = morph.epsilon
degree: int = morph.degree
count: int = morph.n_controls
copy = pickle.loads(pickle.dumps(morph))
print(moved.shape, shift.shape, kernel, epsilon, degree, count, copy.n_controls)
'''


def test_a_morph_script_passes_strict_type_checking(tmp_path):
    pytest.importorskip("mypy")
    script = tmp_path / "morph_script.py"
    script.write_text(STRICT_SCRIPT)
    result = subprocess.run([sys.executable, "-m", "mypy", "--strict", "--no-incremental",
                             str(script)], capture_output=True, text=True, cwd=tmp_path)
    assert result.returncode == 0, result.stdout + result.stderr
    script.write_text("import velk_morph\nk: int = velk_morph.RbfMorph([[0, 0, 0]], [[0, 0, 0]])"
                      ".kernel\n")
    result = subprocess.run([sys.executable, "-m", "mypy", "--strict", "--no-incremental",
                             str(script)], capture_output=True, text=True, cwd=tmp_path)
    assert "Incompatible types in assignment" in result.stdout


def test_compact_kernel_whose_support_covers_most_controls_fits_dense_and_exact():
    # A support radius wider than the control cloud makes the matrix full and ill-conditioned:
    # the fit takes the dense factorisation instead of iterating for ever.
    rng = np.random.default_rng(21)
    controls = rng.uniform(0, 1, size=(2100, 3))
    moves = 0.05 * np.sin(3 * controls)
    morph = velk_morph.RbfMorph(controls, moves, kernel="wendland_c2", epsilon=0.5)
    assert np.abs(morph.displacement(controls) - moves).max() <= 1e-10 * np.abs(moves).max()
