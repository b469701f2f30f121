// Shared by the generators: an empty mesh with room reserved for exactly the counts it will
// hold (advised onto huge pages: a generator fills tens of megabytes at once), refused with a
// MemoryError text when those counts (plus any scratch memory the generator needs) cannot fit in
// the machine's memory.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "core/checked_size.hpp"
#include "core/mesh.hpp"
#include "core/pages.hpp"

namespace velk::primitives {

inline Mesh reserve_mesh(uint64_t node_count, uint64_t cell_count, uint64_t scratch_bytes = 0) {
  const uint64_t total = sizes::add(sizes::add(sizes::bytes(node_count, sizeof(Point3)),
                                               sizes::bytes(cell_count, sizeof(Triangle))),
                                    scratch_bytes);
  sizes::require_memory(total, "a mesh of " + std::to_string(node_count) + " nodes and " +
                                   std::to_string(cell_count) + " cells");
  Mesh mesh;
  mesh.nodes.reserve(node_count);
  mesh.cells.reserve(cell_count);
  pages::advise_huge(mesh.nodes);
  pages::advise_huge(mesh.cells);
  return mesh;
}

}  // namespace velk::primitives
