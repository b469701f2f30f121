// generate_torus: an (M + 1) × (N + 1) grid of nodes over the two angles, both ends included,
// so the seams repeat their first row and column and stay unmerged; wound to face into the
// tube.
#include <cmath>
#include <cstdint>

#include "core/primitives.hpp"
#include "core/primitives/mesh_storage.hpp"
#include "core/primitives/sector_angles.hpp"

namespace velk {

Result<Mesh> generate_torus(double major_radius, double minor_radius, const Point3& centre,
                            uint32_t major_segments, uint32_t minor_segments) {
  if (major_segments < 3 || minor_segments < 3)
    return fail_with(Error::mesh_generation("Major and minor segments must be 3 or more."));
  if (major_radius <= 0.0 || minor_radius <= 0.0)
    return fail_with(Error::mesh_generation("Radii must be positive."));
  if (major_radius < minor_radius)
    return fail_with(Error::mesh_generation("Minor radius cannot be greater than major radius."));
  const uint64_t m = major_segments, n = minor_segments;
  const uint64_t node_count = sizes::mul(m + 1, n + 1);
  const uint64_t cell_count = sizes::mul(2, sizes::mul(m, n));
  const uint64_t tables = sizes::bytes(sizes::add(m, n) + 2, 2 * sizeof(double));
  Mesh mesh = primitives::reserve_mesh(node_count, cell_count, tables);
  const primitives::SectorTable major = primitives::sector_table(m, m);
  const primitives::SectorTable minor = primitives::sector_table(n, n);

  const double big_r = major_radius, r = minor_radius;
  for (uint64_t i = 0; i <= m; ++i) {
    for (uint64_t j = 0; j <= n; ++j) {
      const double w = minor.cos[j] * r + big_r;
      mesh.nodes.push_back({w * major.cos[i], minor.sin[j] * r, w * major.sin[i]});
    }
  }
  for (Point3& p : mesh.nodes) p = {p.x + centre.x, p.y + centre.y, p.z + centre.z};

  for (uint64_t i = 0; i < m; ++i) {
    for (uint64_t j = 0; j < n; ++j) {
      const uint64_t a = i * (n + 1) + j, b = a + 1, c = a + n + 1, d = c + 1;
      mesh.cells.push_back({a, c, d});
      mesh.cells.push_back({d, b, a});
    }
  }
  return mesh;
}

}  // namespace velk
