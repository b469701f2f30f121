// Small vector helpers of the toolkit's geometry code.
#pragma once

#include <cmath>
#include <span>
#include <vector>

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

// Points as a flat row-major (n, 3) array, and back.
inline std::vector<double> flat_points(const NodeList& points) {
  std::vector<double> flat(points.size() * 3);
  for (std::size_t i = 0; i < points.size(); ++i)
    flat[3 * i] = points[i].x, flat[3 * i + 1] = points[i].y, flat[3 * i + 2] = points[i].z;
  return flat;
}

inline NodeList point_list(std::span<const double> flat) {
  NodeList points(flat.size() / 3);
  for (std::size_t i = 0; i < points.size(); ++i)
    points[i] = {flat[3 * i], flat[3 * i + 1], flat[3 * i + 2]};
  return points;
}

}  // namespace velk::toolkit
