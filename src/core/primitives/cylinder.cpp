// generate_cylinder: a bottom and a top centre node, T + 1 rings from bottom to top, two caps
// and the side bands, all wound to face into the cylinder.
#include <cstdint>

#include "core/primitives.hpp"
#include "core/primitives/mesh_storage.hpp"
#include "core/primitives/sector_angles.hpp"

namespace velk {

Result<Mesh> generate_cylinder(double radius, double height, const Point3& centre, uint32_t sectors,
                               uint32_t stacks) {
  if (sectors < 3 || stacks == 0)
    return fail_with(
        Error::mesh_generation("Sectors must be 3 or more, and stacks must be 1 or more."));
  const uint64_t s_count = sectors, bands = stacks;
  const uint64_t ring_nodes = sizes::mul(s_count, bands + 1);
  const uint64_t node_count = sizes::add(ring_nodes, 2);
  const uint64_t cell_count =
      sizes::add(sizes::mul(2, s_count), sizes::mul(2, sizes::mul(s_count, bands)));
  Mesh mesh =
      primitives::reserve_mesh(node_count, cell_count, sizes::bytes(s_count, 2 * sizeof(double)));
  const primitives::SectorTable sector = primitives::sector_table(s_count, s_count - 1);

  const double r = radius, h = height;
  mesh.nodes.push_back({centre.x + 0.0, centre.y - 0.5 * h, 0.0 + centre.z});
  mesh.nodes.push_back({centre.x + 0.0, 0.5 * h + centre.y, 0.0 + centre.z});
  for (uint64_t g = 0; g <= bands; ++g) {
    const double y = (static_cast<double>(g) / static_cast<double>(bands)) * h - 0.5 * h + centre.y;
    for (uint64_t k = 0; k < s_count; ++k)
      mesh.nodes.push_back({sector.cos[k] * r + centre.x, y, sector.sin[k] * r + centre.z});
  }

  auto node = [&](uint64_t g, uint64_t k) { return 2 + g * s_count + k; };
  for (uint64_t k = 0; k < s_count; ++k)
    mesh.cells.push_back({0, node(0, (k + 1) % s_count), node(0, k)});
  for (uint64_t k = 0; k < s_count; ++k)
    mesh.cells.push_back({1, node(bands, k), node(bands, (k + 1) % s_count)});
  for (uint64_t g = 0; g < bands; ++g) {
    for (uint64_t k = 0; k < s_count; ++k) {
      const uint64_t k1 = (k + 1) % s_count;
      const uint64_t a = node(g, k), b = node(g, k1), c = node(g + 1, k), d = node(g + 1, k1);
      mesh.cells.push_back({a, b, d});
      mesh.cells.push_back({d, c, a});
    }
  }
  return mesh;
}

}  // namespace velk
