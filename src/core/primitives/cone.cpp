// generate_cone: apex, base centre and one base ring, built about the origin and then moved to
// the centre; the base and the mantle are wound to face into the cone.
#include <cstdint>

#include "core/primitives.hpp"
#include "core/primitives/mesh_storage.hpp"
#include "core/primitives/sector_angles.hpp"

namespace velk {

Result<Mesh> generate_cone(double radius, double height, const Point3& centre, uint32_t sectors) {
  if (sectors < 3) return fail_with(Error::mesh_generation("Sectors must be 3 or more."));
  if (radius <= 0.0 || height <= 0.0)
    return fail_with(Error::mesh_generation("Radius and height must be positive."));
  const uint64_t s_count = sectors;
  Mesh mesh =
      primitives::reserve_mesh(s_count + 2, 2 * s_count, sizes::bytes(s_count, 2 * sizeof(double)));
  const primitives::SectorTable sector = primitives::sector_table(s_count, s_count - 1);

  const double r = radius, h = height;
  mesh.nodes.push_back({0.0, h * 0.5, 0.0});
  mesh.nodes.push_back({0.0, -h * 0.5, 0.0});
  for (uint64_t k = 0; k < s_count; ++k)
    mesh.nodes.push_back({sector.cos[k] * r, -h * 0.5, sector.sin[k] * r});
  for (Point3& p : mesh.nodes) p = {p.x + centre.x, p.y + centre.y, p.z + centre.z};

  for (uint64_t k = 0; k < s_count; ++k) mesh.cells.push_back({1, 2 + (k + 1) % s_count, 2 + k});
  for (uint64_t k = 0; k < s_count; ++k) mesh.cells.push_back({0, 2 + k, 2 + (k + 1) % s_count});
  return mesh;
}

}  // namespace velk
