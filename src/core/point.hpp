// The plain value types every core operation exchanges: points, triangles and their lists.
#pragma once

#include <array>
#include <cstdint>
#include <vector>

namespace velk {

// Three 64-bit floats: a coordinate, vector, centre, normal, length triple or angle triple.
struct Point3 {
  double x = 0.0, y = 0.0, z = 0.0;
};

// A cell: three positions in a node list, oriented by the right-hand rule.
struct Triangle {
  uint64_t a = 0, b = 0, c = 0;
};

// Numbers of intervals along x, y and z (of a lattice, a box surface, a design block).
struct Resolution {
  uint64_t x = 0, y = 0, z = 0;
};

using NodeList = std::vector<Point3>;
using CellList = std::vector<Triangle>;
using IndexList = std::vector<uint64_t>;
// The corner points A, B, C of one cell, in the cell's order.
using CornerTriple = std::array<Point3, 3>;

// The system's one small-number constant: the 64-bit machine epsilon.
inline constexpr double EPS = 2.220446049250313e-16;

}  // namespace velk
