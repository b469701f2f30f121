// LatticeVariables: design variables that move the lattice of an Ffd, with the derivatives of
// the lattice and of the deformed points with respect to them.
#include "morph_toolkit/lattice_variables.hpp"

#include <string>

#include "morph_py/arrays.hpp"
#include "morph_py/bindings.hpp"
#include "morph_py/compute.hpp"
#include "morph_py/ffd.hpp"
#include "morph_toolkit/errors.hpp"

namespace velk::morph_py {

using namespace nb::literals;

namespace {

using toolkit::LatticeVariables;

Point3 vector_arg(nb::handle obj, const char* name) {
  const FloatRows v = values_arg(obj, name);
  if (v.rows != 3)
    throw toolkit::InvalidInput(std::string(name) + " must have 3 components, got " +
                                std::to_string(v.rows));
  return {v.values[0], v.values[1], v.values[2]};
}

// Adds a move from Python arguments; returns the indices of its variables.
nb::object add_move(LatticeVariables& self, LatticeVariables::Kind kind, nb::handle node_ids,
                    const Point3& vector, const Point3& pivot, nb::handle stations,
                    nb::handle along) {
  const IndexRows ids = index_list_arg(node_ids, "node_ids");
  FloatRows at;
  Point3 direction{};
  if (!stations.is_none()) {
    at = values_arg(stations, "stations");
    if (at.rows == 0) throw toolkit::InvalidInput("stations must not be empty");
    if (along.is_none()) throw toolkit::InvalidInput("along must be given with stations");
    direction = vector_arg(along, "along");
  }
  const std::size_t first = self.add(kind, ids.values, vector, pivot, at.values, direction);
  std::vector<int64_t> indices;
  for (std::size_t i = first; i < self.size(); ++i) indices.push_back(static_cast<int64_t>(i));
  return index_array(std::move(indices));
}

std::vector<double> values_of(const LatticeVariables& self, nb::handle values) {
  const FloatRows v = values_arg(values, "values");
  if (v.rows != self.size())
    throw toolkit::InvalidInput("values must have shape (" + std::to_string(self.size()) +
                                ",), one per variable, got (" + std::to_string(v.rows) + ",)");
  return {v.values.begin(), v.values.end()};
}

const Ffd& ffd_arg(nb::handle obj, const LatticeVariables& self) {
  if (!nb::isinstance<Ffd>(obj)) throw nb::type_error("ffd must be a velk_morph.Ffd");
  const Ffd& ffd = nb::cast<const Ffd&>(obj);
  if (ffd.nodes() != self.node_count())
    throw toolkit::InvalidInput("ffd has " + std::to_string(ffd.nodes()) +
                                " lattice nodes, these variables move " +
                                std::to_string(self.node_count()));
  return ffd;
}

constexpr const char* kClassDoc =
    R"(Design variables that move the nodes of a free-form deformation lattice.

An optimiser moves a handful of scalars; each move added here turns some of them into a
motion of a group of lattice nodes: ``translate`` along a direction, ``rotate`` about an axis
through a pivot (degrees, right-hand rule), ``scale`` about a pivot. A move is uniform over
its group (one variable), or varies per lattice layer: given ``stations`` (positions along
the direction ``along``), it has one variable per station, and each node takes the value
interpolated linearly at its unmoved position along ``along`` (constant beyond the first and
last station), as twist, chord or dihedral vary along a span. The moves act in the order
they were added, each on the lattice the moves before it left. All variables at 0 leave the
lattice unmoved. Derivatives are exact: the chain rule carried through every move.

Parameters
----------
nodes : array_like, shape (L, 3)
    The unmoved lattice, for example ``Ffd.nodes``.

Raises
------
ValueError
    If nodes is not a finite (L, 3) array.

Examples
--------
>>> import numpy as np, velk, velk_morph
>>> ffd = velk_morph.Ffd(velk.DesignBlock([2, 2, 2], [0, 0, 0], [0, 0, 0], [2, 2, 2]))
>>> design = velk_morph.LatticeVariables(ffd.nodes)
>>> design.rotate(np.arange(27), axis=[0, 0, 1], pivot=[0, 0, 0], stations=[-1, 1],
...               along=[0, 0, 1])
array([0, 1])
>>> design.translate([26], direction=[0, 1, 0])
array([2])
>>> design.lattice([0.0, 90.0, 0.5])[26]
array([-1. ,  1.5,  1. ])
)";

constexpr const char* kMoveParameters = R"(node_ids : array_like of int, shape (k,)
    Lattice nodes the move acts on (each once, however often listed).
stations : array_like, shape (S,), optional
    Increasing positions along ``along``; one variable per station.
along : array_like, shape (3,), optional
    The direction the stations are measured along (from the origin); needed with stations.

Returns
-------
numpy.ndarray of int64
    The indices of the move's variables.

Raises
------
ValueError
    If a node id is not a lattice node, a vector is not three finite numbers or is zero where
    a direction is needed, or the stations do not increase.
)";

std::string move_doc(const char* head, const char* own, const char* example) {
  return std::string(head) + "\n\nParameters\n----------\n" + kMoveParameters + "\n" + own +
         "\nExamples\n--------\n>>> import velk_morph\n>>> design = "
         "velk_morph.LatticeVariables([[0, 0, 0], [1, 0, 0], [1, 1, 0]])\n" +
         example;
}

constexpr const char* kProductParameters = R"(
Parameters
----------
ffd : Ffd
    The deformation whose lattice these variables move.
points : array_like, shape (M, 3)
    Points, as given to ``Ffd.deform``.
values : array_like, shape (n,)
    The variables at which to differentiate.
)";

// Returns, Raises and the start of Examples of jvp and vjp.
std::string product_tail(const char* shape) {
  return std::string("Returns\n-------\nnumpy.ndarray of float64, shape (") + shape + R"()

Raises
------
ValueError
    If an array has the wrong shape or ffd's lattice has another size.
TypeError
    If ffd is not an Ffd.

Examples
--------
>>> import velk, velk_morph
>>> ffd = velk_morph.Ffd(velk.DesignBlock([2, 2, 2], [0, 0, 0], [0, 0, 0], [2, 2, 2]))
>>> design = velk_morph.LatticeVariables(ffd.nodes)
>>> design.translate(range(27), direction=[0, 0, 1])
array([0])
)";
}

}  // namespace

void bind_lattice_variables(nb::module_& m) {
  nb::class_<LatticeVariables>(m, "LatticeVariables", kClassDoc)
      .def(
          "__init__",
          [](LatticeVariables* self, nb::handle nodes) {
            const FloatRows base = points_arg(nodes, "nodes");
            new (self) LatticeVariables(base.values);
          },
          "nodes"_a, nb::sig("def __init__(self, nodes: numpy.typing.ArrayLike) -> None"))
      .def_prop_ro("size", &LatticeVariables::size, "The number of variables.")
      .def(
          "translate",
          [](LatticeVariables& self, nb::handle node_ids, nb::handle direction, nb::handle stations,
             nb::handle along) {
            return add_move(self, LatticeVariables::Kind::translation, node_ids,
                            vector_arg(direction, "direction"), {}, stations, along);
          },
          "node_ids"_a, "direction"_a, "stations"_a = nb::none(), "along"_a = nb::none(),
          nb::sig("def translate(self, node_ids: numpy.typing.ArrayLike, direction: "
                  "numpy.typing.ArrayLike, stations: numpy.typing.ArrayLike | None = None, "
                  "along: numpy.typing.ArrayLike | None = None) -> "
                  "numpy.typing.NDArray[numpy.int64]"),
          move_doc("Add a translation: each node moves by its value times ``direction``.",
                   "direction : array_like, shape (3,)\n    The move per unit value.\n",
                   ">>> design.translate([1, 2], direction=[0, 0, 2])\narray([0])\n"
                   ">>> design.lattice([0.25])[2]\narray([1. , 1. , 0.5])\n")
              .c_str())
      .def(
          "rotate",
          [](LatticeVariables& self, nb::handle node_ids, nb::handle axis, nb::handle pivot,
             nb::handle stations, nb::handle along) {
            return add_move(self, LatticeVariables::Kind::rotation, node_ids,
                            vector_arg(axis, "axis"), vector_arg(pivot, "pivot"), stations, along);
          },
          "node_ids"_a, "axis"_a, "pivot"_a, "stations"_a = nb::none(), "along"_a = nb::none(),
          nb::sig("def rotate(self, node_ids: numpy.typing.ArrayLike, axis: "
                  "numpy.typing.ArrayLike, pivot: numpy.typing.ArrayLike, stations: "
                  "numpy.typing.ArrayLike | None = None, along: numpy.typing.ArrayLike | None = "
                  "None) -> numpy.typing.NDArray[numpy.int64]"),
          move_doc("Add a rotation by the value in degrees about ``axis`` through ``pivot``.",
                   "axis : array_like, shape (3,)\n    The axis direction (right-hand rule).\n"
                   "pivot : array_like, shape (3,)\n    A point on the axis.\n",
                   ">>> design.rotate([1], axis=[0, 0, 1], pivot=[0, 0, 0])\narray([0])\n"
                   ">>> design.lattice([90.0])[1].round(12)\narray([0., 1., 0.])\n")
              .c_str())
      .def(
          "scale",
          [](LatticeVariables& self, nb::handle node_ids, nb::handle pivot, nb::handle components,
             nb::handle stations, nb::handle along) {
            return add_move(self, LatticeVariables::Kind::scaling, node_ids,
                            vector_arg(components, "components"), vector_arg(pivot, "pivot"),
                            stations, along);
          },
          "node_ids"_a, "pivot"_a, "components"_a = nb::make_tuple(1, 1, 1),
          "stations"_a = nb::none(), "along"_a = nb::none(),
          nb::sig("def scale(self, node_ids: numpy.typing.ArrayLike, pivot: "
                  "numpy.typing.ArrayLike, components: numpy.typing.ArrayLike = (1, 1, 1), "
                  "stations: numpy.typing.ArrayLike | None = None, along: "
                  "numpy.typing.ArrayLike | None = None) -> numpy.typing.NDArray[numpy.int64]"),
          move_doc("Add a scaling by ``1 + value`` about ``pivot``.",
                   "pivot : array_like, shape (3,)\n    The fixed point.\n"
                   "components : array_like, shape (3,), optional\n    Which coordinates are "
                   "scaled (non-zero) and which kept (0); all by default.\n",
                   ">>> design.scale([1, 2], pivot=[1, 0, 0], components=[0, 1, 0])\narray([0])\n"
                   ">>> design.lattice([1.0])[2]\narray([1., 2., 0.])\n")
              .c_str())
      .def(
          "lattice",
          [](const LatticeVariables& self, nb::handle values) {
            std::vector<double> out = self.lattice(values_of(self, values));
            return float_array(std::move(out), self.node_count(), 3);
          },
          "values"_a,
          nb::sig("def lattice(self, values: numpy.typing.ArrayLike) -> "
                  "numpy.typing.NDArray[numpy.float64]"),
          R"(The moved lattice, to pass to ``Ffd.deform`` as ``deformed_design_nodes``.

Parameters
----------
values : array_like, shape (n,)
    One number per variable.

Returns
-------
numpy.ndarray of float64, shape (L, 3)

Raises
------
ValueError
    If values does not hold one finite number per variable.

Examples
--------
>>> import velk_morph
>>> design = velk_morph.LatticeVariables([[0, 0, 0], [1, 0, 0]])
>>> design.translate([1], direction=[1, 0, 0])
array([0])
>>> design.lattice([2.0])
array([[0., 0., 0.],
       [3., 0., 0.]])
)")
      .def(
          "jacobian",
          [](const LatticeVariables& self, nb::handle values) {
            std::vector<double> jac;
            self.lattice(values_of(self, values), &jac);
            return float_array(std::move(jac), 3 * self.node_count(), self.size());
          },
          "values"_a,
          nb::sig("def jacobian(self, values: numpy.typing.ArrayLike) -> "
                  "numpy.typing.NDArray[numpy.float64]"),
          R"(The derivative of the moved lattice with respect to the variables.

Parameters
----------
values : array_like, shape (n,)
    The variables at which to differentiate.

Returns
-------
numpy.ndarray of float64, shape (3L, n)
    Row ``3i + a`` is coordinate ``a`` of node ``i``.

Raises
------
ValueError
    If values does not hold one finite number per variable.

Examples
--------
>>> import velk_morph
>>> design = velk_morph.LatticeVariables([[1, 0, 0]])
>>> design.rotate([0], axis=[0, 0, 1], pivot=[0, 0, 0])
array([0])
>>> design.jacobian([0.0]).round(6).ravel()
array([0.      , 0.017453, 0.      ])
)")
      .def(
          "jvp",
          [](const LatticeVariables& self, nb::handle ffd, nb::handle points, nb::handle values,
             nb::handle tangent) {
            const Ffd& f = ffd_arg(ffd, self);
            const FloatRows p = points_arg(points, "points");
            const std::vector<double> v = values_of(self, values);
            const FloatRows t = values_arg(tangent, "tangent");
            if (t.rows != self.size())
              throw toolkit::InvalidInput("tangent must have shape (" +
                                          std::to_string(self.size()) + ",), got (" +
                                          std::to_string(t.rows) + ",)");
            std::vector<double> out = released([&] {
              std::vector<double> jac;
              self.lattice(v, &jac);
              std::vector<double> moves(3 * self.node_count(), 0.0);
              for (std::size_t r = 0; r < moves.size(); ++r)
                for (std::size_t c = 0; c < self.size(); ++c)
                  moves[r] += jac[r * self.size() + c] * t.values[c];
              return toolkit::ffd_jvp(f.derivatives, p.values, moves);
            });
            return float_array(std::move(out), p.rows, 3);
          },
          "ffd"_a, "points"_a, "values"_a, "tangent"_a,
          nb::sig("def jvp(self, ffd: Ffd, points: numpy.typing.ArrayLike, values: "
                  "numpy.typing.ArrayLike, tangent: numpy.typing.ArrayLike) -> "
                  "numpy.typing.NDArray[numpy.float64]"),
          (std::string("Derivative of the deformed points in a direction of the variables.\n\n"
                       "One ``Ffd.jvp`` of the lattice move ``jacobian(values) @ tangent``.\n") +
           kProductParameters + R"(tangent : array_like, shape (n,)
    A change of the variables.

)" + product_tail("M, 3") +
           R"(>>> design.jvp(ffd, [[0.0, 0.0, 0.0]], [0.0], [1.0])
array([[0., 0., 1.]])
)")
              .c_str())
      .def(
          "vjp",
          [](const LatticeVariables& self, nb::handle ffd, nb::handle points, nb::handle values,
             nb::handle cotangent) {
            const Ffd& f = ffd_arg(ffd, self);
            const FloatRows p = points_arg(points, "points");
            const std::vector<double> v = values_of(self, values);
            const FloatRows c = points_arg(cotangent, "cotangent");
            check_rows(c, p.rows, "cotangent", "one row per point");
            std::vector<double> out = released([&] {
              std::vector<double> jac;
              self.lattice(v, &jac);
              const std::vector<double> g = toolkit::ffd_vjp(f.derivatives, p.values, c.values);
              std::vector<double> grad(self.size(), 0.0);
              for (std::size_t r = 0; r < g.size(); ++r)
                for (std::size_t k = 0; k < self.size(); ++k)
                  grad[k] += jac[r * self.size() + k] * g[r];
              return grad;
            });
            const std::size_t n = out.size();
            return float_array(std::move(out), n, 0);
          },
          "ffd"_a, "points"_a, "values"_a, "cotangent"_a,
          nb::sig("def vjp(self, ffd: Ffd, points: numpy.typing.ArrayLike, values: "
                  "numpy.typing.ArrayLike, cotangent: numpy.typing.ArrayLike) -> "
                  "numpy.typing.NDArray[numpy.float64]"),
          (std::string("Gradient with respect to the variables of a weighted sum of the "
                       "deformed points.\n\nOne ``Ffd.vjp``, then ``jacobian(values).T`` "
                       "applied to it: the gradient of ``sum(cotangent * "
                       "ffd.deform(points, lattice(values)))``.\n") +
           kProductParameters + R"(cotangent : array_like, shape (M, 3)
    A weight for every coordinate of every point (a solver's gradient, say).

)" + product_tail("n,") +
           R"(>>> design.vjp(ffd, [[0.0, 0.0, 0.0]], [0.0], [[0.0, 0.0, 2.0]])
array([2.])
)")
              .c_str());
}

}  // namespace velk::morph_py
