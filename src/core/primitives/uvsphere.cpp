// generate_uvsphere: two poles on the y axis, T − 1 rings of S sectors between them, caps of
// triangles at the poles and bands of two triangles per quad between rings.
#include <cmath>
#include <cstdint>
#include <numbers>

#include "core/primitives.hpp"
#include "core/primitives/mesh_storage.hpp"
#include "core/primitives/sector_angles.hpp"

namespace velk {

Result<Mesh> generate_uvsphere(double radius, const Point3& centre, uint32_t sectors,
                               uint32_t stacks) {
  if (sectors < 3 || stacks < 2)
    return fail_with(
        Error::mesh_generation("Sectors must be 3 or more, and stacks must be 2 or more."));
  const uint64_t s_count = sectors, rings = uint64_t{stacks} - 1;
  const uint64_t ring_nodes = sizes::mul(s_count, rings);
  const uint64_t node_count = sizes::add(ring_nodes, 2);
  const uint64_t cell_count = sizes::mul(2, ring_nodes);
  Mesh mesh =
      primitives::reserve_mesh(node_count, cell_count, sizes::bytes(s_count, 2 * sizeof(double)));
  const primitives::SectorTable sector = primitives::sector_table(s_count, s_count - 1);

  const double r = radius;
  mesh.nodes.push_back({centre.x + 0.0, centre.y + r, centre.z + 0.0});
  for (uint64_t g = 1; g <= rings; ++g) {
    const double phi =
        (static_cast<double>(g) / static_cast<double>(stacks)) * (-std::numbers::pi) +
        std::numbers::pi / 2.0;
    const double rho = std::cos(phi) * r;
    const double y = std::sin(phi) * r + centre.y;
    for (uint64_t k = 0; k < s_count; ++k)
      mesh.nodes.push_back({sector.cos[k] * rho + centre.x, y, sector.sin[k] * rho + centre.z});
  }
  const uint64_t bottom = 1 + ring_nodes;
  mesh.nodes.push_back({centre.x + 0.0, centre.y - r, centre.z + 0.0});

  // Ring g (1-based), sector k.
  auto node = [&](uint64_t g, uint64_t k) { return 1 + (g - 1) * s_count + k; };
  for (uint64_t k = 0; k < s_count; ++k) {
    const uint64_t k1 = (k + 1) % s_count;
    mesh.cells.push_back({0, node(1, k1), node(1, k)});
  }
  for (uint64_t g = 1; g + 1 <= rings; ++g) {
    for (uint64_t k = 0; k < s_count; ++k) {
      const uint64_t k1 = (k + 1) % s_count;
      const uint64_t a = node(g, k), b = node(g, k1), c = node(g + 1, k), d = node(g + 1, k1);
      mesh.cells.push_back({a, b, d});
      mesh.cells.push_back({d, c, a});
    }
  }
  for (uint64_t k = 0; k < s_count; ++k) {
    const uint64_t k1 = (k + 1) % s_count;
    mesh.cells.push_back({bottom, node(rings, k), node(rings, k1)});
  }
  return mesh;
}

}  // namespace velk
