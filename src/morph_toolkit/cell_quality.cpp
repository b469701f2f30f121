// Triangle areas, tetrahedron volumes, hexahedron scaled Jacobians and the inversion test, each
// cell on its own, spread over the worker pool in blocks.
#include "morph_toolkit/cell_quality.hpp"

#include <algorithm>
#include <cmath>
#include <string>

#include "core/interrupt.hpp"
#include "core/worker_pool.hpp"
#include "morph_toolkit/errors.hpp"
#include "morph_toolkit/vectors.hpp"

namespace velk::toolkit {

namespace {

Point3 point(std::span<const double> points, int64_t i) {
  const double* p = points.data() + 3 * static_cast<std::size_t>(i);
  return {p[0], p[1], p[2]};
}

Point3 triangle_normal(std::span<const double> points, const int64_t* c) {
  const Point3 a = point(points, c[0]);
  return cross_product(point(points, c[1]) - a, point(points, c[2]) - a);
}

double tetra_volume(std::span<const double> points, const int64_t* c) {
  const Point3 a = point(points, c[0]);
  const Point3 b = point(points, c[1]) - a;
  return dot(b, cross_product(point(points, c[2]) - a, point(points, c[3]) - a)) / 6.0;
}

constexpr double kDegenerateLimit = 1e-30;  // squared lengths at or below count as no length
constexpr double kNoQuality = 1e30;         // the measure of a hexahedron with a zero edge

// The Jacobian determinant of three edge vectors over the product of their lengths, or absent
// (kNoQuality) when one has no length.
bool normalised_jacobian(Point3 e1, Point3 e2, Point3 e3, double& out) {
  const double l1 = dot(e1, e1), l2 = dot(e2, e2), l3 = dot(e3, e3);
  if (l1 <= kDegenerateLimit || l2 <= kDegenerateLimit || l3 <= kDegenerateLimit) return false;
  out = dot(e1, cross_product(e2, e3)) / std::sqrt(l1 * l2 * l3);
  return true;
}

double hexa_scaled_jacobian(std::span<const double> points, const int64_t* c) {
  Point3 p[8];
  for (int i = 0; i < 8; ++i) p[i] = point(points, c[i]);
  // The principal axes through the centre, then the three edges leaving each corner, ordered
  // so that a right-handed unit cube gives +1 everywhere.
  const Point3 axis_xi = (((p[1] - p[0]) + (p[2] - p[3])) + (p[5] - p[4])) + (p[6] - p[7]);
  const Point3 axis_eta = (((p[3] - p[0]) + (p[2] - p[1])) + (p[7] - p[4])) + (p[6] - p[5]);
  const Point3 axis_zeta = (((p[4] - p[0]) + (p[5] - p[1])) + (p[6] - p[2])) + (p[7] - p[3]);
  static constexpr int kCorner[8][4] = {{0, 1, 3, 4}, {1, 2, 0, 5}, {2, 3, 1, 6}, {3, 0, 2, 7},
                                        {4, 7, 5, 0}, {5, 4, 6, 1}, {6, 5, 7, 2}, {7, 6, 4, 3}};
  double smallest = kNoQuality;
  double value = 0.0;
  if (!normalised_jacobian(axis_xi, axis_eta, axis_zeta, value)) return kNoQuality;
  smallest = std::min(smallest, value);
  for (const auto& k : kCorner) {
    const Point3 o = p[k[0]];
    if (!normalised_jacobian(p[k[1]] - o, p[k[2]] - o, p[k[3]] - o, value)) return kNoQuality;
    smallest = std::min(smallest, value);
  }
  return smallest;
}

double measure(std::span<const double> points, const int64_t* c, std::size_t width) {
  switch (width) {
    case 3: {
      const Point3 n = triangle_normal(points, c);
      return std::sqrt(dot(n, n)) / 2.0;
    }
    case 4:
      return tetra_volume(points, c);
    default:
      return hexa_scaled_jacobian(points, c);
  }
}

bool inverted(std::span<const double> before, std::span<const double> after, const int64_t* c,
              std::size_t width) {
  switch (width) {
    case 3:
      return dot(triangle_normal(after, c), triangle_normal(before, c)) <= 0.0;
    case 4: {
      const double v0 = tetra_volume(before, c), v1 = tetra_volume(after, c);
      return v1 == 0.0 || (v0 > 0.0 && v1 < 0.0) || (v0 < 0.0 && v1 > 0.0);
    }
    default:
      return hexa_scaled_jacobian(after, c) <= 0.0;
  }
}

constexpr std::size_t kCellsPerBlock = 16384;

// body(first, last) over blocks of cells, on the pool, checking for an interrupt per block.
template <class Body>
void for_cell_blocks(std::size_t count, Body&& body) {
  const std::size_t blocks = (count + kCellsPerBlock - 1) / kCellsPerBlock;
  pool::parallel_for(blocks, [&](std::size_t b) {
    interrupt::checkpoint();
    body(b * kCellsPerBlock, std::min(count, (b + 1) * kCellsPerBlock));
  });
}

}  // namespace

void check_cells_in_range(std::span<const int64_t> cells, std::size_t point_count,
                          const char* cells_name) {
  for (std::size_t i = 0; i < cells.size(); ++i) {
    const int64_t v = cells[i];
    if (v < 0 || static_cast<uint64_t>(v) >= point_count)
      throw InvalidInput(std::string(cells_name) + " names point " + std::to_string(v) +
                         ", but there are only " + std::to_string(point_count) + " points");
  }
}

std::vector<double> cell_quality(std::span<const double> points, std::span<const int64_t> cells,
                                 std::size_t width) {
  const std::size_t count = cells.size() / width;
  std::vector<double> out(count);
  for_cell_blocks(count, [&](std::size_t first, std::size_t last) {
    for (std::size_t k = first; k < last; ++k) out[k] = measure(points, &cells[k * width], width);
  });
  return out;
}

std::vector<int64_t> inverted_cells(std::span<const double> before, std::span<const double> after,
                                    std::span<const int64_t> cells, std::size_t width) {
  const std::size_t count = cells.size() / width;
  std::vector<unsigned char> flags(count);
  for_cell_blocks(count, [&](std::size_t first, std::size_t last) {
    for (std::size_t k = first; k < last; ++k)
      flags[k] = inverted(before, after, &cells[k * width], width);
  });
  std::vector<int64_t> out;
  for (std::size_t k = 0; k < count; ++k)
    if (flags[k]) out.push_back(static_cast<int64_t>(k));
  return out;
}

}  // namespace velk::toolkit
