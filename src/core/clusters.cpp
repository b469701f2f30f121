// The block and sphere node-cluster generators.
#include "core/clusters.hpp"

#include <cmath>
#include <new>
#include <string>

#include "core/checked_size.hpp"
#include "core/rotation.hpp"

namespace velk {

namespace {

// The memory count points need: their core list and the caller's copy of each.
uint64_t point_bytes(uint64_t count, uint64_t caller_bytes_per_node) {
  return sizes::bytes(count, sizes::add(sizeof(Point3), caller_bytes_per_node));
}

std::string resolution_text(const Resolution& r) {
  std::string text = "(";
  text += std::to_string(r.x);
  text += ", ";
  text += std::to_string(r.y);
  text += ", ";
  text += std::to_string(r.z);
  text += ')';
  return text;
}

// Square of a difference, as the ball test forms it.
double squared(double d) {
  return d * d;
}

}  // namespace

Result<NodeList> generate_block_cluster(const Point3& length, const Point3& centre,
                                        const Point3& theta, const Resolution& resolution,
                                        uint64_t caller_bytes_per_node, const char* name) {
  if (length.x <= 0.0 || length.y <= 0.0 || length.z <= 0.0)
    return fail_with(Error::mesh_generation("Invalid length: dimensions must be positive."));
  if (resolution.x == 0 || resolution.y == 0 || resolution.z == 0)
    return fail_with(Error::mesh_generation("Invalid resolution: dimensions must be non-zero."));

  const uint64_t px = sizes::add(resolution.x, 1);
  const uint64_t py = sizes::add(resolution.y, 1);
  const uint64_t pz = sizes::add(resolution.z, 1);
  NodeList nodes;
  const uint64_t count = sizes::mul(sizes::mul(px, py), pz);
  sizes::require_memory(point_bytes(count, caller_bytes_per_node),
                        "a " + resolution_text(resolution) + " " + name);
  nodes.reserve(static_cast<std::size_t>(count));

  const double x0 = centre.x - length.x * 0.5;
  const double y0 = centre.y - length.y * 0.5;
  const double z0 = centre.z - 0.5 * length.z;
  const double dx = length.x / static_cast<double>(resolution.x);
  const double dy = length.y / static_cast<double>(resolution.y);
  const double dz = length.z / static_cast<double>(resolution.z);
  for (uint64_t i = 0; i < px; ++i)
    for (uint64_t j = 0; j < py; ++j)
      for (uint64_t k = 0; k < pz; ++k)
        nodes.push_back({dx * static_cast<double>(i) + x0, dy * static_cast<double>(j) + y0,
                         dz * static_cast<double>(k) + z0});

  if (theta.x != 0.0 || theta.y != 0.0 || theta.z != 0.0) {
    const Matrix3 r = rotation_matrix(theta);
    for (Point3& p : nodes) p = rotate_about(r, p, centre);
  }
  return nodes;
}

Result<NodeList> generate_sphere_cluster(double radius, const Point3& centre, uint64_t resolution,
                                         uint64_t caller_bytes_per_node) {
  if (radius <= 0.0) return fail_with(Error::mesh_generation("Invalid radius: must be positive."));
  if (resolution == 0)
    return fail_with(Error::mesh_generation("Invalid resolution: must be non-zero."));

  const uint64_t per_axis = sizes::add(resolution, 1);
  // The ball holds at least the lattice points of a cube inscribed well inside it, so a
  // lattice whose inner cube alone cannot be held fails at once instead of being walked.
  const double inner = std::floor(0.9 * static_cast<double>(resolution) / std::sqrt(3.0));
  const std::string what = "a sphere cluster of resolution " + std::to_string(resolution);
  if (inner * inner * inner > 9.0e18) throw sizes::MemoryRefused(what + " is too large");
  sizes::require_memory(
      point_bytes(static_cast<uint64_t>(inner * inner * inner), caller_bytes_per_node), what);

  const double e = (radius + radius) / static_cast<double>(resolution);
  const double rr = radius * radius;
  const double bx = centre.x - radius, by = centre.y - radius, bz = centre.z - radius;
  auto visit = [&](auto&& keep) {
    for (uint64_t i = 0; i < per_axis; ++i) {
      const double x = bx + static_cast<double>(i) * e;
      for (uint64_t j = 0; j < per_axis; ++j) {
        const double y = by + static_cast<double>(j) * e;
        for (uint64_t k = 0; k < per_axis; ++k) {
          const double z = bz + static_cast<double>(k) * e;
          if (rr >= squared(z - centre.z) + (squared(y - centre.y) + squared(x - centre.x)))
            keep(x, y, z);
        }
      }
    }
  };
  // Count first so the list is allocated once at its final size.
  uint64_t count = 0;
  visit([&](double, double, double) { ++count; });
  sizes::require_memory(point_bytes(count, caller_bytes_per_node), what);
  NodeList nodes;
  nodes.reserve(static_cast<std::size_t>(count));
  visit([&](double x, double y, double z) { nodes.push_back({x, y, z}); });
  return nodes;
}

}  // namespace velk
