// generate_icosphere: an icosahedron whose cells are split into four per level, with one
// midpoint node per edge shared by both its cells, projected onto the sphere once at the end.
#include <cmath>
#include <cstdint>
#include <vector>

#include "core/internal_failure.hpp"
#include "core/primitives.hpp"
#include "core/primitives/mesh_storage.hpp"

namespace velk {

namespace {

// Edge (smaller, larger) → midpoint node index. Open addressing with linear probing, sized once
// for every midpoint the whole call creates, so it never grows.
class MidpointCache {
 public:
  explicit MidpointCache(uint64_t capacity_pow2)
      : slots_(capacity_pow2), mask_(capacity_pow2 - 1) {}

  static uint64_t capacity_for(uint64_t entries) {
    uint64_t capacity = 16;
    while (capacity < sizes::mul(entries, 2)) capacity = sizes::mul(capacity, 2);
    return capacity;
  }

  // The slot of key (lo, hi): either the one holding it, or the empty slot where it belongs.
  struct Slot {
    uint64_t lo = 0, hi = kEmpty, node = 0;
  };
  Slot& find(uint64_t lo, uint64_t hi) {
    uint64_t h = lo * 0x9E3779B97F4A7C15ull ^ (hi + 0x632BE59BD9B4E019ull) * 0xC2B2AE3D27D4EB4Full;
    h ^= h >> 29;
    for (uint64_t i = h & mask_;; i = (i + 1) & mask_) {
      Slot& s = slots_[i];
      if (s.hi == kEmpty || (s.lo == lo && s.hi == hi)) return s;
    }
  }
  static bool empty(const Slot& s) { return s.hi == kEmpty; }

 private:
  static constexpr uint64_t kEmpty = UINT64_MAX;  // no node index reaches it
  std::vector<Slot> slots_;
  uint64_t mask_;
};

uint64_t midpoint(NodeList& nodes, MidpointCache& cache, uint64_t p, uint64_t q) {
  const uint64_t lo = p < q ? p : q, hi = p < q ? q : p;
  MidpointCache::Slot& slot = cache.find(lo, hi);
  if (!MidpointCache::empty(slot)) return slot.node;
  const Point3 a = checked_at(nodes, lo), b = checked_at(nodes, hi);
  const uint64_t id = nodes.size();
  nodes.push_back({(a.x + b.x) * 0.5, (a.y + b.y) * 0.5, (a.z + b.z) * 0.5});
  slot = {lo, hi, id};
  return id;
}

}  // namespace

Result<Mesh> generate_icosphere(double radius, const Point3& centre, uint32_t subdivisions) {
  if (radius <= 0.0) return fail_with(Error::mesh_generation("Radius must be positive."));

  // 4^n cells per base cell, each level building its list from the previous level's.
  uint64_t growth = 1;
  for (uint32_t level = 0; level < subdivisions; ++level) growth = sizes::mul(growth, 4);
  const uint64_t cell_count = sizes::mul(20, growth);
  const uint64_t node_count = sizes::add(sizes::mul(10, growth), 2);
  const uint64_t previous_cells = subdivisions == 0 ? 0 : cell_count / 4;
  const uint64_t cache_capacity = MidpointCache::capacity_for(node_count - 12);
  const uint64_t scratch = sizes::add(sizes::bytes(previous_cells, sizeof(Triangle)),
                                      sizes::bytes(cache_capacity, sizeof(MidpointCache::Slot)));
  Mesh mesh = primitives::reserve_mesh(node_count, cell_count, scratch);

  const double t = 1.618033988749895;
  mesh.nodes.insert(mesh.nodes.end(), {{-1, t, 0},
                                       {1, t, 0},
                                       {-1, -t, 0},
                                       {1, -t, 0},
                                       {0, -1, t},
                                       {0, 1, t},
                                       {0, -1, -t},
                                       {0, 1, -t},
                                       {t, 0, -1},
                                       {t, 0, 1},
                                       {-t, 0, -1},
                                       {-t, 0, 1}});
  const CellList base = {{0, 11, 5}, {0, 5, 1},  {0, 1, 7},   {0, 7, 10}, {0, 10, 11},
                         {1, 5, 9},  {5, 11, 4}, {11, 10, 2}, {10, 7, 6}, {7, 1, 8},
                         {3, 9, 4},  {3, 4, 2},  {3, 2, 6},   {3, 6, 8},  {3, 8, 9},
                         {4, 9, 5},  {2, 4, 11}, {6, 2, 10},  {8, 6, 7},  {9, 8, 1}};

  // Level L writes into buffer L mod 2, so the buffer of the last level gets the final size
  // and the other one the size of the level before it.
  CellList buffers[2];
  buffers[subdivisions % 2].reserve(cell_count);
  buffers[(subdivisions + 1) % 2].reserve(previous_cells);
  buffers[0].insert(buffers[0].end(), base.begin(), base.end());
  MidpointCache cache(cache_capacity);
  for (uint32_t level = 1; level <= subdivisions; ++level) {
    const CellList& from = buffers[(level + 1) % 2];
    CellList& to = buffers[level % 2];
    to.clear();
    for (const Triangle& cell : from) {
      const uint64_t pq = midpoint(mesh.nodes, cache, cell.a, cell.b);
      const uint64_t qr = midpoint(mesh.nodes, cache, cell.b, cell.c);
      const uint64_t rp = midpoint(mesh.nodes, cache, cell.c, cell.a);
      to.push_back({cell.a, pq, rp});
      to.push_back({cell.b, qr, pq});
      to.push_back({cell.c, rp, qr});
      to.push_back({pq, qr, rp});
    }
  }
  mesh.cells = std::move(buffers[subdivisions % 2]);

  for (Point3& p : mesh.nodes) {
    const double norm = std::sqrt((p.x * p.x + p.y * p.y) + p.z * p.z);
    const double d = norm > EPS ? norm : EPS;
    p = {p.x / d * radius + centre.x, p.y / d * radius + centre.y, p.z / d * radius + centre.z};
  }
  return mesh;
}

}  // namespace velk
