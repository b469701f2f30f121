// cell_quality and inverted_cells.
#include "morph_toolkit/cell_quality.hpp"

#include <string>

#include "morph_py/arrays.hpp"
#include "morph_py/bindings.hpp"
#include "morph_py/compute.hpp"
#include "morph_toolkit/errors.hpp"

namespace velk::morph_py {

using namespace nb::literals;

namespace {

// The cells argument, checked against the point count: width 3, 4 or 8, indices in range.
IndexRows cells_arg(nb::handle obj, std::size_t point_count) {
  IndexRows cells = index_rows_arg(obj, "cells");
  if (cells.width != 3 && cells.width != 4 && cells.width != 8)
    throw toolkit::InvalidInput(
        "cells must have 3 (triangle), 4 (tetrahedron) or 8 (hexahedron) columns, got " +
        std::to_string(cells.width));
  toolkit::check_cells_in_range(cells.values, point_count, "cells");
  return cells;
}

constexpr const char* kCellQualityDoc = R"(Measure every cell of a mesh.

The measure depends on the cell width: the area of a triangle ``(K, 3)``; the signed
volume ``(b - a) . ((c - a) x (d - a)) / 6`` of a tetrahedron ``(K, 4)`` (positive when
``d`` lies on the side of ``abc`` that ``(b - a) x (c - a)`` points to); the scaled
Jacobian of a hexahedron ``(K, 8)`` in VTK's node order (the smallest normalised Jacobian
determinant over its eight corners and its centre: 1 for a cube, <= 0 when inverted, and
1e30 when an edge has no length), the same numbers as VTK's mesh-quality filter.

Parameters
----------
points : array_like, shape (M, 3)
    Point coordinates.
cells : array_like of int, shape (K, 3), (K, 4) or (K, 8)
    Point indices of every cell.

Returns
-------
numpy.ndarray of float64, shape (K,)

Raises
------
ValueError
    If points is not a finite (M, 3) array, cells has another width, or a cell names a point
    that does not exist.

Examples
--------
>>> import velk_morph
>>> velk_morph.cell_quality([[0, 0, 0], [1, 0, 0], [0, 1, 0], [0, 0, 1]], [[0, 1, 2, 3]])
array([0.16666667])
)";

constexpr const char* kInvertedCellsDoc = R"(Find the cells a morph inverted.

A triangle is inverted when its normal turned by 90 degrees or more
(``n_after . n_before <= 0``), a tetrahedron when its signed volume changed sign or became
0, a hexahedron when its scaled Jacobian after the morph is <= 0 (see ``cell_quality``).

Parameters
----------
points_before : array_like, shape (M, 3)
    Point coordinates before the morph.
points_after : array_like, shape (M, 3)
    The same points after the morph.
cells : array_like of int, shape (K, 3), (K, 4) or (K, 8)
    Point indices of every cell.

Returns
-------
numpy.ndarray of int64
    Indices of the inverted cells, ascending.

Raises
------
ValueError
    If a point array is not finite (M, 3), points_after has another length, cells has another
    width, or a cell names a point that does not exist.

Examples
--------
>>> import velk_morph
>>> tet = [[0, 0, 0], [1, 0, 0], [0, 1, 0], [0, 0, 1]]
>>> velk_morph.inverted_cells(tet, [[0, 0, 0], [1, 0, 0], [0, 1, 0], [0, 0, -1]], [[0, 1, 2, 3]])
array([0])
)";

}  // namespace

void bind_cell_quality(nb::module_& m) {
  m.def(
      "cell_quality",
      [](nb::handle points, nb::handle cells) {
        const FloatRows p = points_arg(points, "points");
        const IndexRows c = cells_arg(cells, p.rows);
        std::vector<double> q = released(
            "cell_quality", [&] { return toolkit::cell_quality(p.values, c.values, c.width); });
        return float_array(std::move(q), c.rows, 0);
      },
      "points"_a, "cells"_a,
      nb::sig("def cell_quality(points: numpy.typing.ArrayLike, cells: numpy.typing.ArrayLike) "
              "-> numpy.typing.NDArray[numpy.float64]"),
      kCellQualityDoc);
  m.def(
      "inverted_cells",
      [](nb::handle points_before, nb::handle points_after, nb::handle cells) {
        const FloatRows before = points_arg(points_before, "points_before");
        const FloatRows after = points_arg(points_after, "points_after");
        check_same_rows(before, after, "points_after");
        const IndexRows c = cells_arg(cells, before.rows);
        std::vector<int64_t> found = released("inverted_cells", [&] {
          return toolkit::inverted_cells(before.values, after.values, c.values, c.width);
        });
        return index_array(std::move(found));
      },
      "points_before"_a, "points_after"_a, "cells"_a,
      nb::sig("def inverted_cells(points_before: numpy.typing.ArrayLike, "
              "points_after: numpy.typing.ArrayLike, cells: numpy.typing.ArrayLike) "
              "-> numpy.typing.NDArray[numpy.int64]"),
      kInvertedCellsDoc);
}

}  // namespace velk::morph_py
