// RbfMorph: the displacement morph by radial basis functions, bound as a class with read-only
// parameters, evaluation on arrays and pickling of its fitted state.
#include "morph_toolkit/rbf_morph.hpp"

#include <nanobind/stl/optional.h>
#include <nanobind/stl/string.h>

#include <string>

#include "morph_py/arrays.hpp"
#include "morph_py/bindings.hpp"
#include "morph_py/compute.hpp"
#include "morph_py/doc_parts.hpp"
#include "morph_py/progress.hpp"
#include "morph_toolkit/errors.hpp"

namespace velk::morph_py {

using namespace nb::literals;
using toolkit::RbfMorph;

namespace {

constexpr const char* kKernelNames =
    "'linear', 'thin_plate_spline', 'cubic', 'quintic', 'multiquadric', 'inverse_multiquadric', "
    "'inverse_quadratic', 'gaussian', 'wendland_c0', 'wendland_c2', 'wendland_c4'";

// The pickled form's first element, so that a state from something else is refused.
constexpr const char* kStateTag = "velk_morph.RbfMorph/2";

toolkit::Kernel kernel_arg(const std::string& name) {
  if (auto kernel = toolkit::kernel_by_name(name)) return *kernel;
  throw toolkit::InvalidInput("unknown kernel '" + name + "'; the kernels are " + kKernelNames);
}

// values (rows × 3) as a new (rows, 3) array.
nb::object rows_array(const std::vector<double>& values) {
  return point_rows(std::vector<double>(values));
}

// An (N, 3) float array of a state, as a vector.
std::vector<double> state_rows(nb::handle obj, const char* name) {
  const FloatRows rows = points_arg(obj, name);
  return {rows.values.begin(), rows.values.end()};
}

// displacement or deform (an RbfMorph method writing M × 3 values) as an evaluation.
using Evaluation = void (RbfMorph::*)(const double*, std::size_t, double*,
                                      const toolkit::ProgressCallback*) const;
auto into_rows(Evaluation evaluation) {
  return [evaluation](const RbfMorph& self, const FloatRows& p,
                      const toolkit::ProgressCallback* report) {
    std::vector<double> out(3 * p.rows);
    (self.*evaluation)(p.values.data(), p.rows, out.data(), report);
    return out;
  };
}

// Returns, Raises and the start of Examples of displacement and deform: a morph translating
// everything.
#define RBF_EVALUATION_TAIL                                                         \
  VELK_DOC_POINTS_PROGRESS_RESULT                                                   \
  "\nExamples\n--------\n"                                                          \
  ">>> import velk_morph\n"                                                         \
  ">>> morph = velk_morph.RbfMorph([[0, 0, 0], [1, 0, 0], [0, 1, 0], [0, 0, 1]],\n" \
  "...                             [[0.1, 0, 0]] * 4)\n"

constexpr const char* kClassDoc = R"(Morph by radial-basis interpolation of displacements.

Fits s(x) = sum_j w_j phi(epsilon |x - c_j|) + p(x), with p a polynomial of degree at most
``degree``, so that every control point c_i receives its displacement d_i (s(c_i) = d_i) and
the weights are orthogonal to the polynomials (sum_j w_j q(c_j) = 0); a point x moves to
x + s(x). Unmoved controls leave the mesh unmoved; with degree >= 1 any affine motion of the
controls (translation, rotation, scaling) is reproduced everywhere; a Wendland kernel without
a polynomial moves nothing farther than 1/epsilon from every control.

The kernels (r = epsilon * distance) are scipy's, with its names and signs: "linear" (-r),
"thin_plate_spline" (r^2 log r), "cubic" (r^3), "quintic" (-r^5), "multiquadric"
(-sqrt(1 + r^2)), "inverse_multiquadric" (1 / sqrt(1 + r^2)), "inverse_quadratic"
(1 / (1 + r^2)), "gaussian" (exp(-r^2)); and the compactly supported Wendland functions
"wendland_c0" ((1 - r)^2), "wendland_c2" ((1 - r)^4 (4r + 1)) and "wendland_c4"
((1 - r)^6 (35r^2 + 18r + 3) / 3), zero for r >= 1 (support radius 1/epsilon). Results agree
with ``scipy.interpolate.RBFInterpolator`` given the same kernel, epsilon and degree.

Global kernels fit a dense system by LU factorisation with partial pivoting; Wendland kernels
with more than 2000 controls fit a sparse system (only the pairs within the support) by
preconditioned conjugate gradients, and evaluate by visiting only the centres within the
support. Fitting and evaluation release the interpreter lock, run on velk's worker pool,
honour Ctrl-C and give the same bits at any thread count. A fitted morph pickles.

Parameters
----------
control_points : array_like, shape (N, 3)
    The control points, pairwise distinct.
displacements : array_like, shape (N, 3)
    The displacement each control point receives.
kernel : str, optional
    The kernel's name (default "thin_plate_spline").
epsilon : float, optional
    Shape parameter: distances are multiplied by it (default 1.0); for a Wendland kernel,
    1/epsilon is the support radius.
degree : int or None, optional
    Degree of the polynomial: -1 (none), 0, 1 or 2. None gives scipy's default for scipy's
    kernels (the kernel's minimum degree, or 0 where it has none: 1 for thin_plate_spline and
    cubic, 2 for quintic, 0 otherwise) and -1 for the Wendland kernels.
tolerance : float or None, optional
    None (default): every control point is a centre (one dense or sparse fit of all of them).
    A number: centres are selected greedily among the control points (the polynomial's points
    first, then each time the control with the largest error) until every control point is
    within ``tolerance`` times the largest displacement; the selection grows its
    factorisation one centre at a time, O(N k^2) for k centres. A correction with a Wendland
    C2 kernel of small support (``correction_radius``, about the distance to the 16th nearest
    control) then interpolates the error left at every control point, so each still receives
    its displacement (to 1e-10 of the largest), and the correction is zero farther than its
    radius from every control. ``centres`` and ``max_error`` report the selection. Use it for
    large control sets (10^4 to 10^6 surface nodes), where a dense fit does not fit in memory.
progress : bool or callable, optional
    None or False (default): no reports. A callable is called as ``progress(done, total)``
    from the calling thread while the fit runs, with ``total`` 1000 throughout and ``done``
    the thousandths of the fit's estimated work finished, never decreasing, the last call with
    ``done == total``. A full fit reports as it builds its matrix, factorises it (dense: panel
    by panel; sparse: by the decades its conjugate-gradient residual fell) and checks the
    displacements at the control points. A fit with a tolerance gives the first half to the
    selection (its work so far against the work to the number of centres at which its error,
    falling as it recently fell, reaches the tolerance, at most the number memory allows; done
    jumps when it ends sooner) and the rest to the error left and its correction. True shows
    a tqdm bar. Reporting never changes the result.

Raises
------
ValueError
    If an array is not a finite (N, 3) array (naming the argument and the first bad row),
    displacements has another length, the kernel is unknown, epsilon is not positive, the
    degree is not -1, 0, 1 or 2 or is below the kernel's minimum, the control points leave
    the polynomial undetermined (too few, or all in one plane for degree 1), two control
    points coincide (naming both indices), the system is singular, or tolerance is negative
    or not finite.
TypeError
    If progress is of another kind.
ImportError
    If progress is True and tqdm is not installed.
MemoryError
    If a dense fit would not fit in memory (use a Wendland kernel, or fewer control points).

Examples
--------
>>> import numpy as np, velk_morph
>>> controls = np.array([[0, 0, 0], [1, 0, 0], [0, 1, 0], [0, 0, 1], [1, 1, 1.0]])
>>> moved = np.zeros_like(controls); moved[4] = [0, 0, 0.1]
>>> morph = velk_morph.RbfMorph(controls, moved)
>>> bool(np.allclose(morph.deform(controls), controls + moved))
True
)";

constexpr const char* kDisplacementDoc = R"(The displacement s(x) of every point.

Parameters
----------
points : array_like, shape (M, 3)
    Points to evaluate at.
progress : bool or callable, optional
    None or False (default): no reports. A callable is called as ``progress(done, total)``
    from the calling thread while the work runs (for a fit with a tolerance, total is twice
    the points: the expansion, then the correction), the last call with ``done == total``;
    True shows a tqdm bar. Reporting never changes the result.

)" RBF_EVALUATION_TAIL R"(>>> morph.displacement([[5.0, 5.0, 5.0]]).round(12)
array([[0.1, 0. , 0. ]])
)";

constexpr const char* kDeformDoc = R"(The morphed points x + s(x).

Exactly ``points + displacement(points)``, bit for bit.

Parameters
----------
points : array_like, shape (M, 3)
    Points to move.
progress : bool or callable, optional
    As for ``displacement``.

)" RBF_EVALUATION_TAIL R"(>>> morph.deform([[1.0, 2.0, 3.0]]).round(12)
array([[1.1, 2. , 3. ]])
)";

}  // namespace

void bind_rbf_morph(nb::module_& m) {
  nb::class_<RbfMorph> cls(m, "RbfMorph", kClassDoc);
  cls.def(
      "__init__",
      [](RbfMorph* self, nb::handle control_points, nb::handle displacements,
         const std::string& kernel, double epsilon, std::optional<int> degree,
         std::optional<double> tolerance, nb::handle progress) {
        const FloatRows c = points_arg(control_points, "control_points");
        const FloatRows d = points_arg(displacements, "displacements");
        const toolkit::Kernel k = kernel_arg(kernel);
        // The bar counts the fit's thousandths as steps.
        Progress meter(progress, "RbfMorph fit", "step");
        new (self) RbfMorph(meter.run([&](const toolkit::ProgressCallback* report) {
          return RbfMorph::fit(c.values.data(), c.rows, d.values.data(), d.rows, k, epsilon, degree,
                               tolerance, report);
        }));
      },
      "control_points"_a, "displacements"_a, "kernel"_a = "thin_plate_spline", "epsilon"_a = 1.0,
      "degree"_a = nb::none(), "tolerance"_a = nb::none(), "progress"_a = nb::none(),
      nb::sig("def __init__(self, control_points: numpy.typing.ArrayLike, "
              "displacements: numpy.typing.ArrayLike, kernel: str = 'thin_plate_spline', "
              "epsilon: float = 1.0, degree: int | None = None, "
              "tolerance: float | None = None, "
              "progress: " VELK_MORPH_PROGRESS_TYPE " = None) -> None"));
  def_evaluation(cls, "displacement", "RbfMorph.displacement", into_rows(&RbfMorph::displacement),
                 kDisplacementDoc);
  def_evaluation(cls, "deform", "RbfMorph.deform", into_rows(&RbfMorph::deform), kDeformDoc);
  cls.def_prop_ro(
         "kernel",
         [](const RbfMorph& self) { return std::string(toolkit::kernel_name(self.kernel())); },
         "The kernel's name.")
      .def_prop_ro("epsilon", &RbfMorph::epsilon, "The shape parameter epsilon.")
      .def_prop_ro("degree", &RbfMorph::degree,
                   "The polynomial's degree (-1: none), after the default was applied.")
      .def_prop_ro("n_controls", &RbfMorph::n_controls, "The number of control points.")
      .def_prop_ro(
          "centres",
          [](const RbfMorph& self) {
            std::vector<int64_t> chosen = self.state().selected;
            if (chosen.empty())
              for (std::size_t i = 0; i < self.n_controls(); ++i)
                chosen.push_back(static_cast<int64_t>(i));
            return index_array(std::move(chosen));
          },
          nb::for_getter(nb::sig("def centres(self) -> numpy.typing.NDArray[numpy.int64]")),
          "Indices of the control points used as centres: in selection order for a fit with a "
          "tolerance, all of them in ascending order otherwise.")
      .def_prop_ro(
          "max_error", [](const RbfMorph& self) { return self.state().max_error; },
          "The largest distance between the reduced fit's displacement and the "
          "prescribed one at a control point, before the correction (0.0 without a "
          "tolerance).")
      .def_prop_ro("correction_radius", &RbfMorph::correction_radius,
                   "The support radius of the correction of a fit with a tolerance (0.0 "
                   "without one): beyond it from every control the correction is zero.")
      .def("__getstate__",
           [](const RbfMorph& self) {
             const toolkit::RbfState& s = self.state();
             return nb::make_tuple(
                 kStateTag, std::string(toolkit::kernel_name(s.kernel)), s.epsilon, s.degree,
                 rows_array(s.centres), rows_array(s.displacements), rows_array(s.weights),
                 rows_array(s.coefficients), nb::make_tuple(s.shift[0], s.shift[1], s.shift[2]),
                 nb::make_tuple(s.scale[0], s.scale[1], s.scale[2]),
                 index_array(std::vector<int64_t>(s.selected)), s.max_error,
                 rows_array(s.correction_weights), s.correction_epsilon);
           })
      .def("__setstate__", [](RbfMorph& self, const nb::tuple& state) {
        if (state.size() != 14 || !nb::isinstance<nb::str>(state[0]) ||
            nb::cast<std::string>(state[0]) != kStateTag)
          throw toolkit::InvalidInput("not the state of an RbfMorph");
        toolkit::RbfState s;
        s.kernel = kernel_arg(nb::cast<std::string>(state[1]));
        s.epsilon = nb::cast<double>(state[2]);
        s.degree = nb::cast<int>(state[3]);
        s.centres = state_rows(state[4], "control_points");
        s.displacements = state_rows(state[5], "displacements");
        s.weights = state_rows(state[6], "weights");
        s.coefficients = state_rows(state[7], "coefficients");
        for (int a = 0; a < 3; ++a) {
          s.shift[a] = nb::cast<double>(state[8][a]);
          s.scale[a] = nb::cast<double>(state[9][a]);
        }
        const IndexRows selected = index_rows_arg(
            nb::module_::import_("numpy").attr("reshape")(state[10], nb::make_tuple(-1, 1)),
            "centres");
        s.selected.assign(selected.values.begin(), selected.values.end());
        s.max_error = nb::cast<double>(state[11]);
        s.correction_weights = state_rows(state[12], "correction");
        s.correction_epsilon = nb::cast<double>(state[13]);
        new (&self) RbfMorph(RbfMorph::restore(std::move(s)));
      });
}

}  // namespace velk::morph_py
