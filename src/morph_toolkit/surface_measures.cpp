// Volume and area of a triangle mesh, and their gradients.
#include "morph_toolkit/surface_measures.hpp"

#include <array>
#include <cmath>
#include <optional>

#include "core/point.hpp"
#include "morph_toolkit/vectors.hpp"

namespace velk::toolkit {

namespace {

Point3 at(std::span<const double> points, int64_t i) {
  const auto k = static_cast<std::size_t>(i) * 3;
  return {points[k], points[k + 1], points[k + 2]};
}

// Calls f(a, b, c) with the corners of every triangle, in order.
template <class F>
void each_triangle(std::span<const double> points, std::span<const int64_t> triangles, F&& f) {
  for (std::size_t t = 0; t + 2 < triangles.size(); t += 3)
    f(at(points, triangles[t]), at(points, triangles[t + 1]), at(points, triangles[t + 2]));
}

// The gradient that adds, for every triangle, the three rows f(a, b, c) returns (nothing when
// it returns none) to its corners, in triangle order.
template <class F>
std::vector<double> gradient(std::span<const double> points, std::span<const int64_t> triangles,
                             F&& f) {
  std::vector<double> grad(points.size(), 0.0);
  for (std::size_t t = 0; t + 2 < triangles.size(); t += 3) {
    const std::optional<std::array<Point3, 3>> rows =
        f(at(points, triangles[t]), at(points, triangles[t + 1]), at(points, triangles[t + 2]));
    if (!rows) continue;
    for (int v = 0; v < 3; ++v) {
      const auto k = static_cast<std::size_t>(triangles[t + v]) * 3;
      grad[k] += (*rows)[v].x, grad[k + 1] += (*rows)[v].y, grad[k + 2] += (*rows)[v].z;
    }
  }
  return grad;
}

}  // namespace

double mesh_volume(std::span<const double> points, std::span<const int64_t> triangles) {
  double sum = 0.0;
  each_triangle(points, triangles, [&](const Point3& a, const Point3& b, const Point3& c) {
    sum += velk::dot(a, cross_product(b, c));
  });
  return sum / 6.0;
}

double mesh_area(std::span<const double> points, std::span<const int64_t> triangles) {
  double sum = 0.0;
  each_triangle(points, triangles, [&](const Point3& a, const Point3& b, const Point3& c) {
    sum += norm(cross_product(b - a, c - a));
  });
  return sum / 2.0;
}

std::vector<double> mesh_volume_gradient(std::span<const double> points,
                                         std::span<const int64_t> triangles) {
  return gradient(points, triangles, [](const Point3& a, const Point3& b, const Point3& c) {
    const double sixth = 1.0 / 6.0;
    return std::optional<std::array<Point3, 3>>{{scaled(cross_product(b, c), sixth),
                                                 scaled(cross_product(c, a), sixth),
                                                 scaled(cross_product(a, b), sixth)}};
  });
}

std::vector<double> mesh_area_gradient(std::span<const double> points,
                                       std::span<const int64_t> triangles) {
  return gradient(
      points, triangles,
      [](const Point3& a, const Point3& b,
         const Point3& c) -> std::optional<std::array<Point3, 3>> {
        const Point3 n = cross_product(b - a, c - a);
        const double length = norm(n);
        if (length == 0.0) return std::nullopt;
        const Point3 u = scaled(n, 1.0 / length);
        return {{scaled(cross_product(b - c, u), 0.5), scaled(cross_product(c - a, u), 0.5),
                 scaled(cross_product(a - b, u), 0.5)}};
      });
}

}  // namespace velk::toolkit
