// generate_icosphere: an icosahedron whose cells are split into four per level, with one
// midpoint node per edge shared by both its cells (found in a per-node table of edges),
// projected onto the sphere once at the end.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <vector>

#include "core/internal_failure.hpp"
#include "core/interrupt.hpp"
#include "core/primitives.hpp"
#include "core/primitives/mesh_storage.hpp"
#include "core/simd.hpp"
#include "core/worker_pool.hpp"

namespace velk {

namespace {

// The midpoints of one level's edges, each kept at the edge's smaller end. A node has at most
// six neighbours (five at the icosahedron's corners, six everywhere else), so every node holds
// six slots (larger end, midpoint) and a count: a lookup scans at most six entries of one small
// record. Index is the narrowest type that holds every node index of the call.
template <class Index>
class EdgeMidpoints {
 public:
  static constexpr uint32_t kMaxNeighbours = 6;
  struct Slots {
    Index hi[kMaxNeighbours];
    Index mid[kMaxNeighbours];
    uint32_t count;
  };

  // Room for the edges of a level whose nodes number at most node_count.
  // The records are left uninitialised: clear sets the counts a level uses.
  explicit EdgeMidpoints(uint64_t node_count)
      : by_lo_(new Slots[node_count]), bytes_(node_count * sizeof(Slots)) {}

  const void* storage() const { return by_lo_.get(); }
  std::size_t storage_bytes() const { return bytes_; }

  // Forgets every edge, for a level of node_count nodes.
  void clear(uint64_t node_count) {
    for (uint64_t i = 0; i < node_count; ++i) by_lo_[i].count = 0;
  }

  // The midpoint node of edge p-q, appended to nodes (the average of its ends) when new.
  Index midpoint(NodeList& nodes, Index p, Index q) {
    const Index lo = p < q ? p : q, hi = p < q ? q : p;
    Slots& slots = by_lo_[lo];
    for (uint32_t s = 0; s < slots.count; ++s)
      if (slots.hi[s] == hi) return slots.mid[s];
    if (slots.count == kMaxNeighbours) internal_failure("icosphere node with a seventh neighbour");
    const Point3 a = nodes[lo], b = nodes[hi];
    const Index id = static_cast<Index>(nodes.size());
    nodes.push_back({(a.x + b.x) * 0.5, (a.y + b.y) * 0.5, (a.z + b.z) * 0.5});
    slots.hi[slots.count] = hi;
    slots.mid[slots.count++] = id;
    return id;
  }

 private:
  std::unique_ptr<Slots[]> by_lo_;
  std::size_t bytes_;
};

// Splits every cell of the base solid into four, `subdivisions` times; level L writes into
// buffer L mod 2. Each cell creates the midpoints of its edges p-q, q-r, r-p in that order
// when they are new, so nodes are numbered by first use.
template <class Index>
void subdivide(NodeList& nodes, CellList* const (&buffers)[2], uint32_t subdivisions,
               EdgeMidpoints<Index>& edges) {
  for (uint32_t level = 1; level <= subdivisions; ++level) {
    const CellList& from = *buffers[(level + 1) % 2];
    CellList& to = *buffers[level % 2];
    to.clear();
    edges.clear(nodes.size());
    for (std::size_t i = 0; i < from.size(); ++i) {
      // A pending interrupt ends a long subdivision within a few milliseconds.
      if (i % 65536 == 0) interrupt::checkpoint();
      const Triangle& cell = from[i];
      const Index p = static_cast<Index>(cell.a), q = static_cast<Index>(cell.b),
                  r = static_cast<Index>(cell.c);
      const uint64_t pq = edges.midpoint(nodes, p, q);
      const uint64_t qr = edges.midpoint(nodes, q, r);
      const uint64_t rp = edges.midpoint(nodes, r, p);
      to.push_back({cell.a, pq, rp});
      to.push_back({cell.b, qr, pq});
      to.push_back({cell.c, rp, qr});
      to.push_back({pq, qr, rp});
    }
  }
}

// The subdivision on one thread while a second one maps in the pages of the edge table and of
// the growing lists, which the levels would otherwise fault in one at a time (the kernel, not
// the arithmetic, is most of the cost of a fresh list of many megabytes). With one thread the
// pages are mapped first.
template <class Index>
void build_levels(Mesh& mesh, CellList& scratch_cells, CellList* const (&buffers)[2],
                  uint32_t subdivisions, uint64_t last_level_nodes) {
  EdgeMidpoints<Index> edges(last_level_nodes);
  pool::side_by_side(
      [&] {
        pages::populate(edges.storage(), edges.storage_bytes());
        pages::populate(scratch_cells);
        pages::populate(mesh.nodes);
        pages::populate(mesh.cells);
      },
      [&] { subdivide<Index>(mesh.nodes, buffers, subdivisions, edges); });
}

// Below this many nodes the projection runs on the calling thread; the bits are the same.
constexpr std::size_t kMinParallelNodes = 32768;

// One node onto the sphere: p / max(|p|, EPS) · radius + centre, |p| from ((x² + y²) + z²).
inline Point3 projected(const Point3& p, double radius, const Point3& centre) {
  const double norm = std::sqrt((p.x * p.x + p.y * p.y) + p.z * p.z);
  const double d = norm > EPS ? norm : EPS;
  return {p.x / d * radius + centre.x, p.y / d * radius + centre.y, p.z / d * radius + centre.z};
}

void project_plain(Point3* p, std::size_t n, double radius, const Point3& centre) {
  for (std::size_t i = 0; i < n; ++i) p[i] = projected(p[i], radius, centre);
}

// projected for four nodes at a time: the same correctly rounded square root, divisions,
// products and sums per node, on the x, y and z of four nodes transposed into three vectors.
#if VELK_SIMD_AVX2
VELK_AVX2 void project_avx2(Point3* p, std::size_t n, double radius, const Point3& centre) {
  const __m256d eps = _mm256_set1_pd(EPS), r = _mm256_set1_pd(radius);
  const __m256d cx = _mm256_set1_pd(centre.x), cy = _mm256_set1_pd(centre.y),
                cz = _mm256_set1_pd(centre.z);
  std::size_t i = 0;
  for (; i + 4 <= n; i += 4) {
    // The twelve coordinates of four nodes, copied out whole (a Point3 is three doubles with
    // no padding) and back after the projection.
    static_assert(sizeof(Point3) == 3 * sizeof(double));
    double q[12];
    std::memcpy(q, p + i, sizeof q);
    // a = x0 y0 z0 x1, b = y1 z1 x2 y2, c = z2 x3 y3 z3.
    const __m256d a = _mm256_loadu_pd(q), b = _mm256_loadu_pd(q + 4), c = _mm256_loadu_pd(q + 8);
    const __m256d l0 = _mm256_permute2f128_pd(a, b, 0x30);  // x0 y0 | x2 y2
    const __m256d l1 = _mm256_permute2f128_pd(a, c, 0x21);  // z0 x1 | z2 x3
    const __m256d l2 = _mm256_permute2f128_pd(b, c, 0x30);  // y1 z1 | y3 z3
    const __m256d x = _mm256_shuffle_pd(l0, l1, 0xA), y = _mm256_shuffle_pd(l0, l2, 0x5),
                  z = _mm256_shuffle_pd(l1, l2, 0xA);
    const __m256d norm = _mm256_sqrt_pd(_mm256_add_pd(
        _mm256_add_pd(_mm256_mul_pd(x, x), _mm256_mul_pd(y, y)), _mm256_mul_pd(z, z)));
    const __m256d d = _mm256_blendv_pd(eps, norm, _mm256_cmp_pd(norm, eps, _CMP_GT_OQ));
    const __m256d ox = _mm256_add_pd(_mm256_mul_pd(_mm256_div_pd(x, d), r), cx);
    const __m256d oy = _mm256_add_pd(_mm256_mul_pd(_mm256_div_pd(y, d), r), cy);
    const __m256d oz = _mm256_add_pd(_mm256_mul_pd(_mm256_div_pd(z, d), r), cz);
    const __m256d m0 = _mm256_shuffle_pd(ox, oy, 0x0);  // x0 y0 | x2 y2
    const __m256d m1 = _mm256_shuffle_pd(oz, ox, 0xA);  // z0 x1 | z2 x3
    const __m256d m2 = _mm256_shuffle_pd(oy, oz, 0xF);  // y1 z1 | y3 z3
    _mm256_storeu_pd(q, _mm256_permute2f128_pd(m0, m1, 0x20));
    _mm256_storeu_pd(q + 4, _mm256_permute2f128_pd(m2, m0, 0x30));
    _mm256_storeu_pd(q + 8, _mm256_permute2f128_pd(m1, m2, 0x31));
    std::memcpy(p + i, q, sizeof q);
  }
  for (; i < n; ++i) p[i] = projected(p[i], radius, centre);
}
#endif

}  // namespace

Result<Mesh> generate_icosphere(double radius, const Point3& centre, uint32_t subdivisions) {
  if (radius <= 0.0) return fail_with(Error::mesh_generation("Radius must be positive."));

  // 4^n cells per base cell, each level building its list from the previous level's.
  uint64_t growth = 1;
  for (uint32_t level = 0; level < subdivisions; ++level) growth = sizes::mul(growth, 4);
  const uint64_t cell_count = sizes::mul(20, growth);
  const uint64_t node_count = sizes::add(sizes::mul(10, growth), 2);
  const uint64_t previous_cells = subdivisions == 0 ? 0 : cell_count / 4;
  // The nodes the last level starts from: those of the level before it.
  const uint64_t last_level_nodes = subdivisions == 0 ? 0 : (node_count - 2) / 4 + 2;
  const bool narrow = node_count <= UINT32_MAX;
  const uint64_t slot_bytes =
      narrow ? sizeof(EdgeMidpoints<uint32_t>::Slots) : sizeof(EdgeMidpoints<uint64_t>::Slots);
  const uint64_t scratch = sizes::add(sizes::bytes(previous_cells, sizeof(Triangle)),
                                      sizes::bytes(last_level_nodes, slot_bytes));
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

  // Level L writes into buffer L mod 2: the mesh's own cell list (already of the final size) for
  // the last level, the scratch list (of the size of the level before it) for the other one.
  CellList scratch_cells;
  scratch_cells.reserve(previous_cells);
  pages::advise_huge(scratch_cells);
  CellList* const buffers[2] = {subdivisions % 2 == 0 ? &mesh.cells : &scratch_cells,
                                subdivisions % 2 == 0 ? &scratch_cells : &mesh.cells};
  buffers[0]->insert(buffers[0]->end(), base.begin(), base.end());
  if (narrow)
    build_levels<uint32_t>(mesh, scratch_cells, buffers, subdivisions, last_level_nodes);
  else
    build_levels<uint64_t>(mesh, scratch_cells, buffers, subdivisions, last_level_nodes);

  void (*const project)(Point3*, std::size_t, double, const Point3&) =
      VELK_SIMD_PICK(project_avx2, project_plain);
  pool::run_blocks(mesh.nodes.size(), kMinParallelNodes, [&](std::size_t begin, std::size_t end) {
    project(mesh.nodes.data() + begin, end - begin, radius, centre);
  });
  return mesh;
}

}  // namespace velk
