// Ffd: velk's free-form deformation of arrays with its exact derivatives with respect to the
// moved lattice nodes (forward and reverse products, sparse Jacobian).
#include "morph_py/ffd.hpp"

#include <nanobind/stl/string.h>
#include <nanobind/stl/tuple.h>

#include <string>
#include <tuple>

#include "morph_py/arrays.hpp"
#include "morph_py/bindings.hpp"
#include "morph_py/compute.hpp"
#include "morph_py/doc_parts.hpp"
#include "morph_py/products.hpp"
#include "morph_toolkit/errors.hpp"
#include "morph_toolkit/vectors.hpp"

namespace velk::morph_py {

using namespace nb::literals;

Ffd::Ffd(const BlockNumbers& n) : numbers(n), derivatives(build(n)) {}

toolkit::FfdDerivatives Ffd::build(const BlockNumbers& n) {
  const auto point = [](const std::tuple<double, double, double>& t) {
    return Point3{std::get<0>(t), std::get<1>(t), std::get<2>(t)};
  };
  const auto& [l, c, t, r] = n;
  Result<morph::DesignBlock> block = morph::make_design_block(
      point(l), point(c), point(t), Resolution{std::get<0>(r), std::get<1>(r), std::get<2>(r)});
  if (!block) throw toolkit::InvalidInput("design_block: " + block.error().message());
  Result<morph::FreeFormDeformer> deformer = morph::make_free_form_deformer(*block);
  if (!deformer) throw toolkit::InvalidInput("design_block: " + deformer.error().message());
  return toolkit::FfdDerivatives(std::move(*deformer));
}

namespace {

// The lattice parameters of a velk.DesignBlock, read through its public attributes.
BlockNumbers numbers_of(nb::handle block) {
  const char* names[] = {"length", "centre", "theta", "resolution"};
  for (const char* name : names)
    if (!nb::hasattr(block, name))
      throw nb::type_error(("design_block must be a velk.DesignBlock, got " +
                            nb::cast<std::string>(nb::str(block.type().attr("__name__"))))
                               .c_str());
  const auto triple = [&](const char* name) {
    nb::object v = block.attr(name);
    return std::make_tuple(nb::cast<double>(v[0]), nb::cast<double>(v[1]), nb::cast<double>(v[2]));
  };
  nb::object r = block.attr("resolution");
  return {triple("length"), triple("centre"), triple("theta"),
          std::make_tuple(nb::cast<uint64_t>(r[0]), nb::cast<uint64_t>(r[1]),
                          nb::cast<uint64_t>(r[2]))};
}

constexpr const char* kFfdDoc = R"(Free-form deformation with exact derivatives.

Deforms points exactly as ``velk.FreeFormDeformer(design_block).deform`` does, bit for
bit, and gives the derivatives of the deformed points with respect to the moved lattice
nodes. The deformation is linear in the moved nodes: a point inside the block moves by
``sum_i B_i(s, t, u) M (P'_i - P_i)`` with the Bernstein weight ``B_i`` of node ``i`` at the
point's lattice parameters and one constant 3 x 3 matrix ``M``; points outside the block do
not move, and their derivatives are zero. Objects pickle.

Parameters
----------
design_block : velk.DesignBlock
    The original, unmoved block; its length, centre, theta and resolution are read.

Raises
------
TypeError
    If design_block is not a velk.DesignBlock.

Examples
--------
>>> import velk, velk_morph
)" VELK_DOC_EXAMPLE_FFD R"(>>> moved = ffd.nodes.copy()
>>> moved[13, 2] += 1.0
>>> ffd.deform([[0.0, 0.0, 0.0]], moved)
array([[0.   , 0.   , 0.125]])
)";

constexpr const char* kDeformDoc = R"(Deform points by the moved lattice.

Parameters
----------
points : array_like, shape (M, 3)
    Points to deform.
deformed_design_nodes : array_like, shape (L, 3)
    The moved lattice nodes, one per node of the block, in lattice order.

)" VELK_DOC_RETURNS_FLOATS(
    "M, 3") R"(    The same numbers as ``velk.FreeFormDeformer(design_block).deform``; points outside the
    block come back unchanged.

)" VELK_DOC_RAISES_NOT_FINITE("points or deformed_design_nodes") R"(
Examples
--------
>>> import velk, velk_morph
)" VELK_DOC_EXAMPLE_FFD R"(>>> ffd.deform([[5.0, 5.0, 5.0]], ffd.nodes)
array([[5., 5., 5.]])
)";

constexpr const char* kJvpDoc = R"(Derivative of the deformed points in a direction of the lattice.

Costs about one deformation; the Jacobian is never formed.

Parameters
----------
)" VELK_DOC_POINTS_AS_GIVEN_TO("deform") R"(tangent : array_like, shape (L, 3)
    A move of every lattice node.

)" VELK_DOC_RETURNS_FLOATS(
    "M, 3") R"(    ``J @ tangent.ravel()`` reshaped: zero for points outside the block.

)" VELK_DOC_RAISES_NOT_FINITE("points or tangent") R"(
Examples
--------
>>> import numpy as np, velk, velk_morph
)" VELK_DOC_EXAMPLE_FFD R"(>>> ffd.jvp([[0.0, 0.0, 0.0], [3.0, 0.0, 0.0]], np.ones((27, 3)))
array([[1., 1., 1.],
       [0., 0., 0.]])
)";

constexpr const char* kVjpDoc =
    R"(Gradient with respect to the lattice nodes of a weighted sum of the points.

Returns ``J.T @ cotangent.ravel()`` reshaped, the gradient of
``sum(cotangent * deform(points, nodes))`` with respect to the moved nodes; this carries a
solver's gradient with respect to the mesh points back to the lattice. Costs about one
deformation; the points are summed in blocks of a fixed size and the blocks in order, so the
result has the same bits at any thread count.

Parameters
----------
)" VELK_DOC_POINTS_AS_GIVEN_TO("deform") R"(cotangent : array_like, shape (M, 3)
    A weight for every coordinate of every point.

)" VELK_DOC_RETURNS_FLOATS("L, 3") R"(
)" VELK_DOC_RAISES_NOT_FINITE("points or cotangent") R"(
Examples
--------
>>> import numpy as np, velk, velk_morph
)" VELK_DOC_EXAMPLE_FFD R"(>>> ffd.vjp([[0.0, 0.0, 0.0]], [[0.0, 0.0, 1.0]])[13]
array([0.   , 0.   , 0.125])
)";

constexpr const char* kJacobianDoc =
    R"(The sparse Jacobian of the deformed points over chosen lattice nodes.

Row ``3p + a`` is coordinate ``a`` of point ``p``, column ``3j + b`` coordinate ``b`` of the
``j``-th given node. Exact zeros are not stored: points outside the block have empty rows.

Parameters
----------
)" VELK_DOC_POINTS_AS_GIVEN_TO("deform") R"(node_ids : array_like of int, shape (k,), optional
    Lattice nodes to differentiate with respect to (the free design nodes, say); all when
    None.

Returns
-------
scipy.sparse.csr_matrix of float64, shape (3M, 3k)

Raises
------
ValueError
    If points is not a finite (M, 3) array, node_ids is not one-dimensional, or an id is not a
    lattice node.
MemoryError
    At once, naming the size, when the matrix would not fit in memory; use ``jvp`` and
    ``vjp`` for products with it instead.

Examples
--------
>>> import velk, velk_morph
)" VELK_DOC_EXAMPLE_FFD R"(>>> ffd.jacobian([[0.0, 0.0, 0.0]], node_ids=[13]).toarray()
array([[0.125, 0.   , 0.   ],
       [0.   , 0.125, 0.   ],
       [0.   , 0.   , 0.125]])
)";

using Product = std::vector<double> (*)(const toolkit::FfdDerivatives&, std::span<const double>,
                                        std::span<const double>);

// A method (points, second) -> (rows, 3) array: second has one row per lattice node
// (per_node) or one per point.
void def_points_method(nb::class_<Ffd>& cls, const char* name, const char* second, bool per_node,
                       Product product, const char* doc) {
  const std::string sig = point_pair_sig(name, second);
  cls.def(
      name,
      [second, per_node, product, call = "Ffd." + std::string(name)](
          const Ffd& f, nb::handle points, nb::handle other) {
        const PointPair a = point_pair_args(
            points, other, second, per_node ? "one row per lattice node" : nullptr, f.nodes());
        return point_rows(released(call.c_str(), [&] {
          return product(f.derivatives, a.points.values, a.second.values);
        }));
      },
      "points"_a, nb::arg(second), nb::sig(sig.c_str()), doc);
}

}  // namespace

void bind_ffd(nb::module_& m) {
  nb::class_<Ffd> cls(m, "Ffd", kFfdDoc);
  def_points_method(cls, "deform", "deformed_design_nodes", true, toolkit::ffd_deform, kDeformDoc);
  def_points_method(cls, "jvp", "tangent", true, toolkit::ffd_jvp, kJvpDoc);
  def_points_method(cls, "vjp", "cotangent", false, toolkit::ffd_vjp, kVjpDoc);
  cls.def(
         "__init__",
         [](Ffd* self, nb::handle design_block) { new (self) Ffd(numbers_of(design_block)); },
         "design_block"_a, nb::sig("def __init__(self, design_block: object) -> None"))
      .def_prop_ro(
          "nodes",
          [](const Ffd& f) {
            return point_rows(toolkit::flat_points(f.derivatives.deformer.block.nodes));
          },
          nb::sig("def nodes(self) -> numpy.typing.NDArray[numpy.float64]"),
          "The original lattice nodes, (L, 3), in lattice order: node (i, j, k) is row "
          "(i * (ny + 1) + j) * (nz + 1) + k.")
      .def_prop_ro(
          "resolution", [](const Ffd& f) { return std::get<3>(f.numbers); },
          "The lattice intervals (nx, ny, nz) per axis.")
      .def("__getstate__", [](const Ffd& f) { return f.numbers; })
      .def("__setstate__", [](Ffd* self, const BlockNumbers& numbers) { new (self) Ffd(numbers); })
      .def(
          "jacobian",
          [](const Ffd& f, nb::handle points, nb::handle node_ids) {
            const FloatRows p = points_arg(points, "points");
            std::vector<int64_t> all;
            IndexRows ids;
            if (node_ids.is_none()) {
              all.resize(f.nodes());
              for (std::size_t i = 0; i < all.size(); ++i) all[i] = static_cast<int64_t>(i);
              ids.values = all;
            } else {
              ids = index_list_arg(node_ids, "node_ids");
              for (std::size_t j = 0; j < ids.values.size(); ++j)
                if (ids.values[j] < 0 || static_cast<uint64_t>(ids.values[j]) >= f.nodes())
                  throw toolkit::InvalidInput(
                      "node_ids[" + std::to_string(j) + "] = " + std::to_string(ids.values[j]) +
                      " is not a lattice node (the block has " + std::to_string(f.nodes()) + ")");
            }
            nb::module_ sparse = nb::module_::import_("scipy.sparse");
            toolkit::SparseRows jac = released("Ffd.jacobian", [&] {
              return toolkit::ffd_jacobian(f.derivatives, p.values, ids.values);
            });
            const std::size_t rows = jac.rows, cols = jac.cols, stored = jac.values.size();
            nb::object data = float_array(std::move(jac.values), stored, 0);
            nb::object indices = int32_array(std::move(jac.columns));
            nb::object indptr = index_array(std::move(jac.row_start));
            return sparse.attr("csr_matrix")(nb::make_tuple(data, indices, indptr),
                                             "shape"_a = nb::make_tuple(rows, cols));
          },
          "points"_a, "node_ids"_a = nb::none(),
          nb::sig("def jacobian(self, points: numpy.typing.ArrayLike, node_ids: "
                  "numpy.typing.ArrayLike | None = None) -> scipy.sparse.csr_matrix"),
          kJacobianDoc);
}

}  // namespace velk::morph_py
