// Corner triples and unit cell normals of a mesh.
#include "core/mesh.hpp"

#include <cmath>

#include "core/internal_failure.hpp"

namespace velk {

CornerTriple corners(const NodeList& nodes, const Triangle& t) {
  const Point3& a = checked_at(nodes, t.a);
  const Point3& b = checked_at(nodes, t.b);
  const Point3& c = checked_at(nodes, t.c);
  return {a, b, c};
}

std::vector<CornerTriple> triangles(const Mesh& mesh) {
  std::vector<CornerTriple> out;
  out.reserve(mesh.cells.size());
  for (const Triangle& t : mesh.cells) out.push_back(corners(mesh.nodes, t));
  return out;
}

NodeList cell_normals(const Mesh& mesh) {
  NodeList out;
  out.reserve(mesh.cells.size());
  for (const Triangle& t : mesh.cells) {
    const auto [a, b, c] = corners(mesh.nodes, t);
    const auto [ux, uy, uz] = b - a;
    const auto [vx, vy, vz] = c - a;
    const double nx = uy * vz - uz * vy;
    const double ny = uz * vx - ux * vz;
    const double nz = ux * vy - vx * uy;
    // This order of operations differs on purpose from the STL writer's facet_normal
    // (io/stl_write.cpp): nz is ux·vy − vx·uy, the length is √(z² + (x² + y²)) and always
    // divides. Each formula fixes the bits of its own results, so the two must not be merged.
    const double length = std::sqrt(nz * nz + (nx * nx + ny * ny));
    out.push_back({nx / length, ny / length, nz / length});
  }
  return out;
}

}  // namespace velk
