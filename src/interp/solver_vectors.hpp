// The vector kinds a dense solve carries on its right-hand side: Point3 and VectorN, each with
// the six operations the solver uses (zero like, scale, add in place, subtract, divide, NaN test).
#pragma once

#include <cmath>
#include <cstddef>
#include <vector>

#include "core/point.hpp"

namespace velk::interp {

// An owned sequence of 64-bit floats of any length.
struct VectorN {
  std::vector<double> values;
};

// ---- Point3 ----
inline Point3 zero_like(const Point3&) {
  return {0.0, 0.0, 0.0};
}
inline Point3 scaled(const Point3& p, double s) {
  return p * s;
}
inline void add_assign(Point3& a, const Point3& b) {
  a.x += b.x;
  a.y += b.y;
  a.z += b.z;
}
inline Point3 subtract(const Point3& a, const Point3& b) {
  return a - b;
}
inline Point3 divided(const Point3& p, double s) {
  return {p.x / s, p.y / s, p.z / s};
}
inline bool has_nan(const Point3& p) {
  return std::isnan(p.x) || std::isnan(p.y) || std::isnan(p.z);
}

// ---- VectorN ----
inline VectorN zero_like(const VectorN& v) {
  return {std::vector<double>(v.values.size(), 0.0)};
}
VectorN scaled(const VectorN& v, double s);
// Adds entries 0 to min(len) - 1.
void add_assign(VectorN& a, const VectorN& b);
// A new value of length min(len a, len b).
VectorN subtract(const VectorN& a, const VectorN& b);
VectorN divided(const VectorN& v, double s);
bool has_nan(const VectorN& v);

}  // namespace velk::interp
