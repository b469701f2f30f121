// Small vector helpers of the toolkit's geometry code.
#pragma once

#include <cmath>

#include "core/point.hpp"

namespace velk::toolkit {

inline Point3 cross_product(const Point3& a, const Point3& b) {
  return {a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x};
}

inline Point3 scaled(const Point3& p, double s) {
  return {p.x * s, p.y * s, p.z * s};
}

inline double norm(const Point3& p) {
  return std::sqrt(velk::dot(p, p));
}

}  // namespace velk::toolkit
