// Volume and area of a triangle mesh, and their gradients.
#include "morph_toolkit/surface_measures.hpp"

#include <cmath>

#include "core/point.hpp"
#include "morph_toolkit/vectors.hpp"

namespace velk::toolkit {

namespace {

Point3 at(std::span<const double> points, int64_t i) {
  const auto k = static_cast<std::size_t>(i) * 3;
  return {points[k], points[k + 1], points[k + 2]};
}

void add(std::vector<double>& grad, int64_t i, const Point3& g, double scale) {
  const auto k = static_cast<std::size_t>(i) * 3;
  grad[k] += g.x * scale, grad[k + 1] += g.y * scale, grad[k + 2] += g.z * scale;
}

// Calls f(ia, ib, ic, a, b, c) for every triangle, in order.
template <class F>
void each_triangle(std::span<const double> points, std::span<const int64_t> triangles, F&& f) {
  for (std::size_t t = 0; t + 2 < triangles.size(); t += 3) {
    const int64_t ia = triangles[t], ib = triangles[t + 1], ic = triangles[t + 2];
    f(ia, ib, ic, at(points, ia), at(points, ib), at(points, ic));
  }
}

}  // namespace

double mesh_volume(std::span<const double> points, std::span<const int64_t> triangles) {
  double sum = 0.0;
  each_triangle(points, triangles,
                [&](int64_t, int64_t, int64_t, const Point3& a, const Point3& b, const Point3& c) {
                  sum += velk::dot(a, cross_product(b, c));
                });
  return sum / 6.0;
}

double mesh_area(std::span<const double> points, std::span<const int64_t> triangles) {
  double sum = 0.0;
  each_triangle(points, triangles,
                [&](int64_t, int64_t, int64_t, const Point3& a, const Point3& b, const Point3& c) {
                  const Point3 n = cross_product(b - a, c - a);
                  sum += std::sqrt(velk::dot(n, n));
                });
  return sum / 2.0;
}

std::vector<double> mesh_volume_gradient(std::span<const double> points,
                                         std::span<const int64_t> triangles) {
  std::vector<double> grad(points.size(), 0.0);
  each_triangle(
      points, triangles,
      [&](int64_t ia, int64_t ib, int64_t ic, const Point3& a, const Point3& b, const Point3& c) {
        add(grad, ia, cross_product(b, c), 1.0 / 6.0);
        add(grad, ib, cross_product(c, a), 1.0 / 6.0);
        add(grad, ic, cross_product(a, b), 1.0 / 6.0);
      });
  return grad;
}

std::vector<double> mesh_area_gradient(std::span<const double> points,
                                       std::span<const int64_t> triangles) {
  std::vector<double> grad(points.size(), 0.0);
  each_triangle(
      points, triangles,
      [&](int64_t ia, int64_t ib, int64_t ic, const Point3& a, const Point3& b, const Point3& c) {
        const Point3 n = cross_product(b - a, c - a);
        const double length = std::sqrt(velk::dot(n, n));
        if (length == 0.0) return;
        const Point3 u = {n.x / length, n.y / length, n.z / length};
        add(grad, ia, cross_product(b - c, u), 0.5);
        add(grad, ib, cross_product(c - a, u), 0.5);
        add(grad, ic, cross_product(a - b, u), 0.5);
      });
  return grad;
}

}  // namespace velk::toolkit
