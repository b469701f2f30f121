// LatticeVariables: design variables that move the lattice of an Ffd, with the derivatives of
// the lattice and of the deformed points with respect to them.
#include "morph_toolkit/lattice_variables.hpp"

#include <string>

#include "morph_py/arrays.hpp"
#include "morph_py/bindings.hpp"
#include "morph_py/compute.hpp"
#include "morph_py/doc_parts.hpp"
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

// `obj` (named `name`) as one finite number per variable; `note` follows the expected shape in
// the refusal.
FloatRows per_variable(const LatticeVariables& self, nb::handle obj, const char* name,
                       const char* note) {
  FloatRows v = values_arg(obj, name);
  if (v.rows != self.size())
    throw toolkit::InvalidInput(std::string(name) + " must have shape (" +
                                std::to_string(self.size()) + ",)" + note + ", got (" +
                                std::to_string(v.rows) + ",)");
  return v;
}

std::vector<double> values_of(const LatticeVariables& self, nb::handle values) {
  const FloatRows v = per_variable(self, values, "values", ", one per variable");
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

// The arguments jvp and vjp share, checked in this order.
struct ProductArgs {
  const Ffd& ffd;
  FloatRows points;
  std::vector<double> values;
};

ProductArgs product_args(const LatticeVariables& self, nb::handle ffd, nb::handle points,
                         nb::handle values) {
  const Ffd& f = ffd_arg(ffd, self);
  FloatRows p = points_arg(points, "points");
  return {f, std::move(p), values_of(self, values)};
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
)" VELK_DOC_EXAMPLE_FFD R"(>>> design = velk_morph.LatticeVariables(ffd.nodes)
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

// The parameters jvp and vjp share, before their own last one.
#define PRODUCT_PARAMETERS \
  "\nParameters\n----------\n"                                  \
  "ffd : Ffd\n"                                                 \
  "    The deformation whose lattice these variables move.\n"   \
  VELK_DOC_POINTS_AS_GIVEN_TO("Ffd.deform")                     \
  "values : array_like, shape (n,)\n"                           \
  "    The variables at which to differentiate.\n"

// Returns, Raises and the start of Examples of jvp and vjp.
#define PRODUCT_TAIL(shape)                                                  \
  VELK_DOC_RETURNS_FLOATS(shape)                                             \
  "\nRaises\n------\nValueError\n"                                           \
  "    If an array has the wrong shape or ffd's lattice has another size.\n" \
  "TypeError\n    If ffd is not an Ffd.\n\n"                                 \
  "Examples\n--------\n>>> import velk, velk_morph\n" VELK_DOC_EXAMPLE_FFD   \
  ">>> design = velk_morph.LatticeVariables(ffd.nodes)\n"                    \
  ">>> design.translate(range(27), direction=[0, 0, 1])\narray([0])\n"

// Raises and the start of Examples of lattice and jacobian.
#define VALUES_TAIL                                                 \
  "Raises\n------\nValueError\n"                                    \
  "    If values does not hold one finite number per variable.\n\n" \
  "Examples\n--------\n>>> import velk_morph\n"                     \
  ">>> design = velk_morph.LatticeVariables("

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

)" VELK_DOC_RETURNS_FLOATS("L, 3") "\n" VALUES_TAIL R"([[0, 0, 0], [1, 0, 0]])
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

)" VELK_DOC_RETURNS_FLOATS("3L, n") R"(    Row ``3i + a`` is coordinate ``a`` of node ``i``.

)" VALUES_TAIL R"([[1, 0, 0]])
>>> design.rotate([0], axis=[0, 0, 1], pivot=[0, 0, 0])
array([0])
>>> design.jacobian([0.0]).round(6).ravel()
array([0.      , 0.017453, 0.      ])
)")
      .def(
          "jvp",
          [](const LatticeVariables& self, nb::handle ffd, nb::handle points, nb::handle values,
             nb::handle tangent) {
            const ProductArgs a = product_args(self, ffd, points, values);
            const FloatRows t = per_variable(self, tangent, "tangent", "");
            std::vector<double> out = released("LatticeVariables.jvp", [&] {
              std::vector<double> jac;
              self.lattice(a.values, &jac);
              std::vector<double> moves(3 * self.node_count(), 0.0);
              for (std::size_t r = 0; r < moves.size(); ++r)
                for (std::size_t c = 0; c < self.size(); ++c)
                  moves[r] += jac[r * self.size() + c] * t.values[c];
              return toolkit::ffd_jvp(a.ffd.derivatives, a.points.values, moves);
            });
            return float_array(std::move(out), a.points.rows, 3);
          },
          "ffd"_a, "points"_a, "values"_a, "tangent"_a,
          nb::sig("def jvp(self, ffd: Ffd, points: numpy.typing.ArrayLike, values: "
                  "numpy.typing.ArrayLike, tangent: numpy.typing.ArrayLike) -> "
                  "numpy.typing.NDArray[numpy.float64]"),
          "Derivative of the deformed points in a direction of the variables.\n\n"
          "One ``Ffd.jvp`` of the lattice move ``jacobian(values) @ tangent``.\n" PRODUCT_PARAMETERS
          R"(tangent : array_like, shape (n,)
    A change of the variables.

)" PRODUCT_TAIL("M, 3") R"(>>> design.jvp(ffd, [[0.0, 0.0, 0.0]], [0.0], [1.0])
array([[0., 0., 1.]])
)")
      .def(
          "vjp",
          [](const LatticeVariables& self, nb::handle ffd, nb::handle points, nb::handle values,
             nb::handle cotangent) {
            const ProductArgs a = product_args(self, ffd, points, values);
            const FloatRows c = points_arg(cotangent, "cotangent");
            check_rows(c, a.points.rows, "cotangent", "one row per point");
            std::vector<double> out = released("LatticeVariables.vjp", [&] {
              std::vector<double> jac;
              self.lattice(a.values, &jac);
              const std::vector<double> g =
                  toolkit::ffd_vjp(a.ffd.derivatives, a.points.values, c.values);
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
          "Gradient with respect to the variables of a weighted sum of the deformed points.\n\n"
          "One ``Ffd.vjp``, then ``jacobian(values).T`` applied to it: the gradient of "
          "``sum(cotangent * ffd.deform(points, lattice(values)))``.\n" PRODUCT_PARAMETERS
          R"(cotangent : array_like, shape (M, 3)
    A weight for every coordinate of every point (a solver's gradient, say).

)" PRODUCT_TAIL("n,") R"(>>> design.vjp(ffd, [[0.0, 0.0, 0.0]], [0.0], [[0.0, 0.0, 2.0]])
array([2.])
)");
}

}  // namespace velk::morph_py
