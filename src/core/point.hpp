// The plain value types every core operation exchanges: points with their component-wise
// arithmetic, triangles and their lists.
#pragma once

#include <array>
#include <cstdint>
#include <vector>

namespace velk {

// Three 64-bit floats: a coordinate, vector, centre, normal, length triple or angle triple.
struct Point3 {
  double x = 0.0, y = 0.0, z = 0.0;
};

// Component-wise arithmetic, each component computed on its own as written: a.x − b.x, and so
// on. The left operand of every operation comes first, which fixes the sign and payload of a
// NaN result.
inline Point3 operator+(const Point3& a, const Point3& b) {
  return {a.x + b.x, a.y + b.y, a.z + b.z};
}
inline Point3 operator-(const Point3& a, const Point3& b) {
  return {a.x - b.x, a.y - b.y, a.z - b.z};
}
inline Point3 operator*(const Point3& p, double s) {
  return {p.x * s, p.y * s, p.z * s};
}

// The dot product v·n summed as (vx·nx + vy·ny) + vz·nz.
inline double dot(const Point3& v, const Point3& n) {
  return (v.x * n.x + v.y * n.y) + v.z * n.z;
}

// The component of p along axis a: x for 0, y for 1, z for 2.
inline double& axis(Point3& p, int a) {
  return a == 0 ? p.x : (a == 1 ? p.y : p.z);
}
inline double axis(const Point3& p, int a) {
  return a == 0 ? p.x : (a == 1 ? p.y : p.z);
}

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
