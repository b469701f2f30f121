// Slicing a mesh by a plane into segments, and clipping it to one side of the plane.
#include "core/mesh_plane.hpp"

#include <limits>

#include "core/selection.hpp"

namespace velk {

std::optional<NodeList> slice_from_plane(const Mesh& mesh, const Point3& origin,
                                         const Point3& normal) {
  const std::vector<CornerTriple> corners = triangles(mesh);
  const double offset = dot(origin, normal);
  NodeList out;
  out.reserve(2 * corners.size());
  for (const CornerTriple& abc : corners) {
    Point3 hits[3];
    int count = 0;
    for (int edge = 0; edge < 3; ++edge) {
      const Point3& s = abc[edge];
      const Point3& e = abc[(edge + 1) % 3];
      const Point3 along{e.x - s.x, e.y - s.y, e.z - s.z};
      const double t = (offset - dot(s, normal)) / dot(along, normal);
      if (0.0 <= t && t <= 1.0)
        hits[count++] = {s.x + along.x * t, s.y + along.y * t, s.z + along.z * t};
    }
    if (count == 2) {
      out.push_back(hits[0]);
      out.push_back(hits[1]);
    }
  }
  if (out.empty()) return std::nullopt;
  return out;
}

Mesh clip_from_plane(const Mesh& mesh, const Point3& origin, const Point3& normal) {
  const IndexList kept = select_nodes_in_plane_direction(mesh.nodes, origin, normal);
  // position[i]: the new index of node i, or `dropped` when node i is not kept.
  constexpr uint64_t dropped = std::numeric_limits<uint64_t>::max();
  std::vector<uint64_t> position(mesh.nodes.size(), dropped);
  Mesh out;
  out.nodes.reserve(kept.size());
  for (const uint64_t i : kept) {
    position[i] = out.nodes.size();
    out.nodes.push_back(mesh.nodes[i]);
  }
  auto renumber = [&](uint64_t index) {
    return index < position.size() ? position[index] : dropped;
  };
  for (const Triangle& cell : mesh.cells) {
    const uint64_t a = renumber(cell.a), b = renumber(cell.b), c = renumber(cell.c);
    if (a != dropped && b != dropped && c != dropped) out.cells.push_back({a, b, c});
  }
  return out;
}

}  // namespace velk
