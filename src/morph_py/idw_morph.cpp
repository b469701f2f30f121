// IdwMorph: inverse distance weighting of displacements, with pickling and progress reports.
#include "morph_toolkit/idw_morph.hpp"

#include <nanobind/stl/string.h>

#include <span>
#include <string>
#include <vector>

#include "morph_py/arrays.hpp"
#include "morph_py/bindings.hpp"
#include "morph_py/compute.hpp"
#include "morph_py/doc_parts.hpp"
#include "morph_py/progress.hpp"

namespace velk::morph_py {

using namespace nb::literals;
using toolkit::IdwMorph;

namespace {

// Builds the morph in place (for __init__ and __setstate__) from checked arrays.
void construct(IdwMorph* self, nb::handle control_points, nb::handle displacements, double power) {
  const FloatRows c = points_arg(control_points, "control_points");
  const FloatRows d = points_arg(displacements, "displacements");
  std::vector<double> cv(c.values.begin(), c.values.end());
  std::vector<double> dv(d.values.begin(), d.values.end());
  released("IdwMorph", [&] { new (self) IdwMorph(std::move(cv), std::move(dv), power); });
}

// A read-only (N, 3) copy of a vector of the morph.
nb::object frozen_rows(const std::vector<double>& values) {
  nb::object array = point_rows(std::vector<double>(values));
  array.attr("flags").attr("writeable") = false;
  return array;
}

constexpr const char* kClassDoc = R"(Inverse distance weighting of displacements.

The displacement at a point ``x`` is the weighted mean of the prescribed displacements,
``s(x) = sum_i w_i d_i / sum_i w_i`` with ``w_i = |x - c_i| ** -power``. At a control point
it is exactly the prescribed displacement (the same bits). Nothing is solved, so any number of
controls can be used; an evaluation costs one pass over the controls per point, vectorised and
run on the worker pool, with the same bits at any thread count. The formula is evaluated to
about 1e-12 of the largest displacement; a point whose weights would overflow or underflow
(closer than about 1e-100 to a control, or very far from all of them) is evaluated with weights
scaled by its nearest control.

Parameters
----------
control_points : array_like, shape (N, 3)
    Distinct, finite control points, N >= 1.
displacements : array_like, shape (N, 3)
    The displacement prescribed at each control point.
power : float, optional
    The exponent of the inverse distance, > 0 (default 3.0). Multiples of 0.5 up to 32 are
    evaluated fastest.

Raises
------
ValueError
    If an array is not a finite (N, 3) array (naming it and the first bad row, or the shape),
    displacements has another length than control_points, two control points coincide (naming
    both rows), there are no control points, or power is not a positive finite number.

Examples
--------
>>> import numpy as np, velk_morph
>>> morph = velk_morph.IdwMorph([[0, 0, 0], [1, 0, 0]], [[0, 0, 1], [0, 0, 0]], power=2.0)
>>> morph.displacement([[0, 0, 0], [0.5, 0, 0], [0.25, 0, 0]])
array([[0. , 0. , 1. ],
       [0. , 0. , 0.5],
       [0. , 0. , 0.9]])
)";

// The sections shared by displacement and deform.
constexpr const char* kEvaluationSections = R"(
Parameters
----------
points : array_like, shape (M, 3)
    Finite points.
progress : bool or callable, optional
    None or False (default): no reports. A callable is called as ``progress(done, total)``
    (points evaluated so far, of all points) from the calling thread while the work runs, the
    last call with ``done == total``; an exception it raises ends the call. True shows a tqdm
    bar (tqdm must be installed). Reporting never changes the result.

)" VELK_DOC_POINTS_PROGRESS_RESULT R"(
Examples
--------
>>> import velk_morph
>>> morph = velk_morph.IdwMorph([[0, 0, 0], [1, 0, 0]], [[0, 0, 1], [0, 0, 0]])
)";

// A docstring: its summary line, the shared sections, and the end of its example (nanobind
// copies it).
std::string evaluation_doc(const char* summary, const char* example) {
  return std::string(summary) + "\n" + kEvaluationSections + example;
}

// displacement or deform as the body of an evaluation method.
using Evaluation = std::vector<double> (IdwMorph::*)(std::span<const double>,
                                                     const toolkit::ProgressCallback*) const;
auto on_rows(Evaluation evaluation) {
  return [evaluation](const IdwMorph& self, const FloatRows& p,
                      const toolkit::ProgressCallback* report) {
    return (self.*evaluation)(p.values, report);
  };
}

#define ROWS_SIG(name) nb::sig("def " name "(self) -> numpy.typing.NDArray[numpy.float64]")

}  // namespace

void bind_idw_morph(nb::module_& m) {
  nb::class_<IdwMorph> cls(m, "IdwMorph", kClassDoc);
  cls.def(
      "__init__",
      [](IdwMorph* self, nb::handle control_points, nb::handle displacements, double power) {
        construct(self, control_points, displacements, power);
      },
      "control_points"_a, "displacements"_a, "power"_a = 3.0,
      nb::sig("def __init__(self, control_points: numpy.typing.ArrayLike, "
              "displacements: numpy.typing.ArrayLike, power: float = 3.0) -> None"));
  def_evaluation(cls, "displacement", "IdwMorph.displacement", on_rows(&IdwMorph::displacement),
                 evaluation_doc("The interpolated displacement at every point.",
                                ">>> morph.displacement([[1, 0, 0]])\narray([[0., 0., 0.]])\n")
                     .c_str());
  def_evaluation(
      cls, "deform", "IdwMorph.deform", on_rows(&IdwMorph::deform),
      evaluation_doc("The morphed points: ``points + displacement(points)``, the same bits.",
                     ">>> morph.deform([[0, 0, 0]])\narray([[0., 0., 1.]])\n")
          .c_str());
  cls.def_prop_ro("power", &IdwMorph::power, "The exponent of the inverse distance.")
      .def_prop_ro("n_controls", &IdwMorph::size, "The number of control points.")
      .def_prop_ro(
          "control_points", [](const IdwMorph& self) { return frozen_rows(self.controls()); },
          nb::for_getter(ROWS_SIG("control_points")), "The control points (a read-only copy).")
      .def_prop_ro(
          "displacements", [](const IdwMorph& self) { return frozen_rows(self.displacements()); },
          nb::for_getter(ROWS_SIG("displacements")),
          "The prescribed displacements (a read-only copy).")
      .def("__getstate__",
           [](const IdwMorph& self) {
             return nb::make_tuple(frozen_rows(self.controls()), frozen_rows(self.displacements()),
                                   self.power());
           })
      .def("__setstate__",
           [](IdwMorph* self, nb::tuple state) {
             if (state.size() != 3) throw nb::value_error("IdwMorph: a state of 3 items expected");
             construct(self, state[0], state[1], nb::cast<double>(state[2]));
           })
      .def("__repr__", [](const IdwMorph& self) {
        return "IdwMorph(n_controls=" + std::to_string(self.size()) +
               ", power=" + nb::cast<std::string>(nb::repr(nb::float_(self.power()))) + ")";
      });
}

}  // namespace velk::morph_py
