// generate_capsule: 2T + 1 rings from top to bottom over a sphere split at its equator, the
// upper half raised and the lower half lowered by half the straight part; outward winding. The
// first and last rings sit at the poles as rings of S nodes and are not merged.
#include <cmath>
#include <cstdint>
#include <numbers>

#include "core/primitives.hpp"
#include "core/primitives/mesh_storage.hpp"
#include "core/primitives/sector_angles.hpp"

namespace velk {

Result<Mesh> generate_capsule(double radius, double cylinder_height, const Point3& centre,
                              uint32_t sectors, uint32_t stacks) {
  if (sectors < 3 || stacks == 0)
    return fail_with(
        Error::mesh_generation("Sectors must be 3 or more, and stacks must be 1 or more."));
  if (radius <= 0.0 || cylinder_height < 0.0)
    return fail_with(Error::mesh_generation(
        "Radius must be positive and cylinder height must be non-negative."));
  const uint64_t s_count = sectors, last_ring = 2 * uint64_t{stacks};
  const uint64_t node_count = sizes::mul(last_ring + 1, s_count);
  const uint64_t cell_count = sizes::mul(4, sizes::mul(s_count, stacks));
  Mesh mesh =
      primitives::reserve_mesh(node_count, cell_count, sizes::bytes(s_count, 2 * sizeof(double)));
  const primitives::SectorTable sector = primitives::sector_table(s_count, s_count - 1);

  const double r = radius, h = cylinder_height;
  for (uint64_t f = 0; f <= last_ring; ++f) {
    const double phi =
        (static_cast<double>(f) / static_cast<double>(last_ring)) * (-std::numbers::pi) +
        std::numbers::pi / 2.0;
    const double rho = std::cos(phi) * r;
    const double s = std::sin(phi) * r;
    // The equator ring (s = 0) goes to the bottom of the straight part.
    const double y = s > 0.0 ? s + 0.5 * h : s - 0.5 * h;
    for (uint64_t k = 0; k < s_count; ++k)
      mesh.nodes.push_back({sector.cos[k] * rho, y, sector.sin[k] * rho});
  }
  for (Point3& p : mesh.nodes) p = {p.x + centre.x, p.y + centre.y, p.z + centre.z};

  for (uint64_t l = 1; l <= last_ring; ++l) {
    for (uint64_t k = 0; k < s_count; ++k) {
      const uint64_t k1 = (k + 1) % s_count;
      const uint64_t a = (l - 1) * s_count + k, b = (l - 1) * s_count + k1;
      const uint64_t c = l * s_count + k, d = l * s_count + k1;
      mesh.cells.push_back({a, b, d});
      mesh.cells.push_back({d, c, a});
    }
  }
  return mesh;
}

}  // namespace velk
