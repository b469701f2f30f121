// RbfMorph.jvp and RbfMorph.vjp: derivatives of the displacement morph with respect to the
// prescribed displacements, added to the RbfMorph class.
#include "morph_toolkit/rbf_derivatives.hpp"

#include <string>

#include "morph_py/arrays.hpp"
#include "morph_py/bindings.hpp"
#include "morph_py/compute.hpp"
#include "morph_py/doc_parts.hpp"
#include "morph_py/products.hpp"
#include "morph_toolkit/errors.hpp"

namespace velk::morph_py {

using namespace nb::literals;
using toolkit::RbfMorph;

namespace {

// The start of both examples: a morph of four unmoved controls.
#define RBF_EXAMPLE_MORPH                                         \
  ">>> import velk_morph\n"                                       \
  ">>> controls = [[0, 0, 0], [1, 0, 0], [0, 1, 0], [0, 0, 1]]\n" \
  ">>> morph = velk_morph.RbfMorph(controls, [[0.0, 0.0, 0.0]] * 4)\n"

constexpr const char* kJvpDoc =
    R"(Derivative of ``displacement(points)`` in a direction of the prescribed displacements.

The morph is linear in the displacements, so this is the displacement at the points of the
morph fitted to ``tangent`` instead: one solve with the fit's kept factors (no new
factorisation; a morph restored from a pickle factorises once per call) and one evaluation.
For a morph fitted with a ``tolerance``, this is the derivative of the reduced map with its
correction, the selection of centres held fixed (the interpolant of the selected centres is
fitted once more per call).

Parameters
----------
)" VELK_DOC_POINTS_AS_GIVEN_TO("displacement") R"(tangent : array_like, shape (N, 3)
    A change of the displacement of every control point.

)" VELK_DOC_RETURNS_FLOATS("M, 3") R"(
)" VELK_DOC_RAISES_NOT_FINITE("points or tangent") R"(
Examples
--------
)" RBF_EXAMPLE_MORPH R"(>>> morph.jvp([[0.5, 0.5, 0.5]], [[0.0, 0.0, 1.0]] * 4).round(12)
array([[0., 0., 1.]])
)";

constexpr const char* kVjpDoc =
    R"(Gradient with respect to the prescribed displacements of a weighted sum of the displacements.

Returns the gradient of ``sum(cotangent * displacement(points))`` with respect to the
displacements of the control points: ``A^-1 E^T cotangent`` with the fit's symmetric matrix
``A`` and the evaluation matrix ``E``, which is never formed (``E^T cotangent`` is a kernel
sum at the controls over the points), then one solve with the fit's kept factors. The sums
over the points run in a fixed order: the same bits at any thread count. For a morph fitted
with a ``tolerance``, the gradient of the reduced map with its correction, the selection of
centres held fixed.

Parameters
----------
)" VELK_DOC_POINTS_AS_GIVEN_TO("displacement") R"(cotangent : array_like, shape (M, 3)
    A weight for every coordinate of every point (a solver's gradient, say).

)" VELK_DOC_RETURNS_FLOATS("N, 3") R"(
)" VELK_DOC_RAISES_NOT_FINITE("points or cotangent") R"(
Examples
--------
)" RBF_EXAMPLE_MORPH R"(>>> morph.vjp([[1.0, 0.0, 0.0]], [[0.0, 0.0, 1.0]]).round(12)
array([[0., 0., 0.],
       [0., 0., 1.],
       [0., 0., 0.],
       [0., 0., 0.]])
)";

using Product = std::vector<double> (*)(const RbfMorph&, const double*, std::size_t, const double*);

// Adds method `name` (points, second) to the RbfMorph class: second has one row per control
// point (per_control) or one per point; the result has as many rows as points or controls.
void add_method(nb::handle cls, const char* name, const char* second, bool per_control,
                Product product, const char* doc) {
  const std::string sig = point_pair_sig(name, second);
  cls.attr(name) = nb::cpp_function(
      [second, per_control, product, call = "RbfMorph." + std::string(name)](
          const RbfMorph& self, nb::handle points, nb::handle other) {
        const PointPair a =
            point_pair_args(points, other, second,
                            per_control ? "one row per control point" : nullptr, self.n_controls());
        return point_rows(released(call.c_str(), [&] {
          return product(self, a.points.values.data(), a.points.rows, a.second.values.data());
        }));
      },
      nb::name(name), nb::is_method(), nb::scope(cls), "points"_a, nb::arg(second),
      nb::sig(sig.c_str()), doc);
}

}  // namespace

void bind_rbf_derivatives(nb::module_& m) {
  nb::handle cls = m.attr("RbfMorph");
  add_method(cls, "jvp", "tangent", true, toolkit::rbf_jvp, kJvpDoc);
  add_method(cls, "vjp", "cotangent", false, toolkit::rbf_vjp, kVjpDoc);
}

}  // namespace velk::morph_py
