// Slicing a mesh by a plane into segments, and clipping it to one side of the plane.
#include "core/mesh_plane.hpp"

#include <algorithm>
#include <limits>

#include "core/selection.hpp"
#include "core/worker_pool.hpp"

namespace velk {

namespace {

// The points where the plane x·n = offset meets the edges A→B, B→C, C→A of one cell, in that
// order; returns how many edges it meets.
int edge_hits(const CornerTriple& abc, double offset, const Point3& normal, Point3 hits[3]) {
  int count = 0;
  for (int edge = 0; edge < 3; ++edge) {
    const Point3& s = abc[edge];
    const Point3& e = abc[(edge + 1) % 3];
    const Point3 along = e - s;
    const double t = (offset - dot(s, normal)) / dot(along, normal);
    if (0.0 <= t && t <= 1.0) hits[count++] = s + along * t;
  }
  return count;
}

}  // namespace

std::optional<NodeList> slice_from_plane(const Mesh& mesh, const Point3& origin,
                                         const Point3& normal) {
  const std::vector<CornerTriple> corners = triangles(mesh);
  const double offset = dot(origin, normal);
  NodeList out;
  out.reserve(2 * corners.size());
  for (const CornerTriple& abc : corners) {
    Point3 hits[3];
    if (edge_hits(abc, offset, normal, hits) == 2) {
      out.push_back(hits[0]);
      out.push_back(hits[1]);
    }
  }
  if (out.empty()) return std::nullopt;
  return out;
}

std::vector<bool> planes_cut_mesh(const Mesh& mesh, const std::vector<Plane>& planes) {
  std::vector<double> offsets;
  for (const Plane& plane : planes) offsets.push_back(dot(plane.origin, plane.normal));
  // Blocks of cells on the worker pool, each cell tested against the planes its block has not
  // yet seen cut; the first bad index in cell order still wins, since the pool re-throws the
  // failure of the lowest block.
  constexpr std::size_t kBlock = 1 << 14;
  const std::size_t n = mesh.cells.size(), count = planes.size();
  const std::size_t blocks = (n + kBlock - 1) / kBlock;
  std::vector<char> cut(blocks * count, 0);
  pool::parallel_for(blocks, [&](std::size_t b) {
    char* found = cut.data() + b * count;
    std::size_t open = count;
    for (std::size_t i = b * kBlock, end = std::min(n, i + kBlock); i < end; ++i) {
      // Every cell is checked even after every plane is cut, so a bad index fails as a slice
      // does.
      const CornerTriple abc = corners(mesh.nodes, mesh.cells[i]);
      for (std::size_t p = 0; open && p < count; ++p) {
        Point3 hits[3];
        if (!found[p] && edge_hits(abc, offsets[p], planes[p].normal, hits) == 2) {
          found[p] = 1;
          --open;
        }
      }
    }
  });
  std::vector<bool> out(count, false);
  for (std::size_t b = 0; b < blocks; ++b)
    for (std::size_t p = 0; p < count; ++p) out[p] = out[p] || cut[b * count + p];
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
