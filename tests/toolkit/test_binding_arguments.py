"""The argument handling the velk_morph classes share: the exact refusal texts of the
(points, second) products and of the per-variable arguments, and the evaluation methods with a
progress argument (reports, result, keyword and refusals) on every class that has them."""

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
