// Cell measures of a mesh and the cells a morph inverted. Points are a flat row-major (M, 3)
// array, cells a flat row-major (K, width) array of point indices, width 3 (triangles), 4
// (tetrahedra) or 8 (hexahedra in VTK's node order). The caller has checked that every index
// is in range (cells_in_range).
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace velk::toolkit {

// Throws InvalidInput naming `cells_name` and the first index outside [0, point_count).
void check_cells_in_range(std::span<const int64_t> cells, std::size_t point_count,
                          const char* cells_name);

// One number per cell: the triangle's area, the tetrahedron's signed volume
// (b - a) . ((c - a) x (d - a)) / 6, or the hexahedron's scaled Jacobian (the smallest
// normalised Jacobian determinant over its eight corners and its centre, as VTK's mesh-quality
// filter computes it: 1e30 when an edge or axis has no length).
std::vector<double> cell_quality(std::span<const double> points, std::span<const int64_t> cells,
                                 std::size_t width);

// Ascending indices of the cells the move from `before` to `after` inverted: a triangle whose
// normal turned by 90 degrees or more (n_after . n_before <= 0), a tetrahedron whose volume
// changed sign or became 0, a hexahedron whose scaled Jacobian is <= 0 after the move.
std::vector<int64_t> inverted_cells(std::span<const double> before, std::span<const double> after,
                                    std::span<const int64_t> cells, std::size_t width);

}  // namespace velk::toolkit
