// Construction of the free-form deformer (its frame fits) and the deformation of points.
#include "morph/ffd.hpp"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <vector>

#include "core/internal_failure.hpp"
#include "core/rotation.hpp"
#include "core/simd.hpp"
#include "core/worker_pool.hpp"
#include "morph/bernstein.hpp"
#include "morph/least_squares.hpp"

namespace velk::morph {

namespace {

// Below this many points the call runs on the calling thread; the bits are the same either way.
constexpr std::size_t kMinParallelPoints = 512;

const std::array<Point3, 4> kUnitFrame = {Point3{0.0, 0.0, 0.0}, Point3{1.0, 0.0, 0.0},
                                          Point3{0.0, 1.0, 0.0}, Point3{0.0, 0.0, 1.0}};

DenseMatrix homogeneous_rows(const std::array<Point3, 4>& points) {
  DenseMatrix rows;
  rows.reserve(points.size());
  for (const Point3& p : points) rows.push_back({p.x, p.y, p.z, 1.0});
  return rows;
}

Result<Matrix4> fit_frame(const std::array<Point3, 4>& from, const std::array<Point3, 4>& to) {
  Result<DenseMatrix> x = solve_least_squares(homogeneous_rows(from), homogeneous_rows(to));
  if (!x) return fail_with(x.error());
  Matrix4 m{};
  for (std::size_t r = 0; r < 4; ++r)
    for (std::size_t c = 0; c < 4; ++c) m[r][c] = checked_at(checked_at(*x, r), c);
  return m;
}

// A lattice node turned back into the block's own axes about its centre.
Point3 unrotated(const Matrix3& back, const Point3& p, const Point3& c) {
  return rotate_about(back, p, c);
}

// Displacement of every node in the block's unrotated axes, in block lengths.
NodeList normalised_displacements(const DesignBlock& block, const NodeList& moved) {
  const Matrix3 back = inverse_rotation_matrix(block.theta);
  const Point3& inv = block.inverse_lengths;
  NodeList d(block.nodes.size());
  for (std::size_t i = 0; i < d.size(); ++i) {
    const Point3 a = unrotated(back, block.nodes[i], block.centre);
    const Point3 b = unrotated(back, moved[i], block.centre);
    const Point3 step = b - a;
    d[i] = {step.x * inv.x, step.y * inv.y, step.z * inv.z};
  }
  return d;
}

// ---- The per-point kernel ----
// Each point goes through the serial steps in their fixed order: its parameters in the unit
// frame, the inside test, the Bernstein weights of each axis, the blend of the displacements and
// the way back to space. Points are taken kChunk at a time; the inside ones of a chunk are packed
// into groups that run side by side, one point per lane (see bernstein.hpp).

constexpr std::size_t kChunk = 256;
constexpr std::size_t kMaxGroupLanes = group_lanes<4>;

// What every chunk of one call shares.
struct Plan {
  Point3 c0;
  Matrix4 to_unit, from_unit;
  const Point3* d;                               // normalised node displacements, lattice order
  std::array<std::vector<double>, 3> binomials;  // binomial rows of the x, y and z orders
};

// Buffers of one task, reused by every chunk it takes: the packed parameters and positions of
// the inside points of a chunk, and the weights and blend of one group.
struct Scratch {
  explicit Scratch(const Plan& plan) : index(kChunk), blend(3 * kMaxGroupLanes) {
    for (auto& axis : q) axis.resize(kChunk + kMaxGroupLanes);
    for (int a = 0; a < 3; ++a) weights[a].resize(plan.binomials[a].size() * kMaxGroupLanes);
  }
  std::array<std::vector<double>, 3> q;        // packed parameters, one array per axis
  std::vector<std::size_t> index;              // their positions in the chunk
  std::array<std::vector<double>, 3> weights;  // one group's order + 1 weights per axis
  std::vector<double> blend;                   // one group's displacement sums
};

// (x, y, z, 1)·F per lane into out: component c is ((x·F[0][c] + y·F[1][c]) + z·F[2][c]) +
// F[3][c].
template <std::size_t W>
[[gnu::always_inline]] inline void row_times_lanes(const typename simd::Vector<W>::type* p,
                                                   const Matrix4& f,
                                                   typename simd::Vector<W>::type* out) {
  for (int c = 0; c < 3; ++c)
    out[c] = ((p[0] * f[0][c] + p[1] * f[1][c]) + p[2] * f[2][c]) + f[3][c];
}

// Deforms the first `count` points of pts in place (count <= kChunk), W lanes per vector.
template <std::size_t W>
[[gnu::always_inline]] inline void deform_chunk(const Plan& plan, Scratch& s, Point3* pts,
                                                std::size_t count) {
  using V = typename simd::Vector<W>::type;
  constexpr std::size_t kGroup = group_lanes<W>;
  const Point3& c0 = plan.c0;
  // Parameters in the unit frame; the inside points are packed in increasing order. Lanes past
  // the end of the chunk are NaN, which is never inside.
  std::size_t inside = 0;
  for (std::size_t g = 0; g < count; g += W) {
    V p[3];
    p[0] = p[1] = p[2] = V{} + NAN;
    const std::size_t width = std::min(W, count - g);
    for (std::size_t l = 0; l < width; ++l) {
      p[0][l] = pts[g + l].x - c0.x;
      p[1][l] = pts[g + l].y - c0.y;
      p[2][l] = pts[g + l].z - c0.z;
    }
    V q[3];
    row_times_lanes<W>(p, plan.to_unit, q);
    const auto in = (q[0] >= 0.0) & (q[0] <= 1.0) & (q[1] >= 0.0) & (q[1] <= 1.0) & (q[2] >= 0.0) &
                    (q[2] <= 1.0);
    for (std::size_t l = 0; l < W; ++l) {
      if (!in[l]) continue;
      for (int a = 0; a < 3; ++a) s.q[a][inside] = q[a][l];
      s.index[inside++] = g + l;
    }
  }
  // The last group is filled up with a parameter of the block's middle; those lanes are dropped.
  for (std::size_t l = inside; l % kGroup != 0; ++l) s.q[0][l] = s.q[1][l] = s.q[2][l] = 0.5;

  const std::size_t nx1 = plan.binomials[0].size(), ny1 = plan.binomials[1].size(),
                    nz1 = plan.binomials[2].size();
  for (std::size_t g = 0; g < inside; g += kGroup) {
    for (int a = 0; a < 3; ++a)
      bernstein_weights_group<W>(&s.q[a][g], plan.binomials[a], s.weights[a].data());
    bernstein_blend_group<W>(s.weights[0].data(), nx1, s.weights[1].data(), ny1,
                             s.weights[2].data(), nz1, plan.d, s.blend.data());
    // Moved parameters q + Σ, and back to space.
    for (std::size_t h = 0; h < kVectors; ++h) {
      V m[3], r[3];
      for (int a = 0; a < 3; ++a) {
        V q, delta;
        load_vector<W>(q, &s.q[a][g], 0, h);
        load_vector<W>(delta, s.blend.data(), a, h);
        m[a] = q + delta;
      }
      row_times_lanes<W>(m, plan.from_unit, r);
      r[0] = r[0] + c0.x, r[1] = r[1] + c0.y, r[2] = r[2] + c0.z;
      const std::size_t first = g + h * W;
      for (std::size_t l = 0; l < W && first + l < inside; ++l)
        pts[s.index[first + l]] = {r[0][l], r[1][l], r[2][l]};
    }
  }
}

// The same kernel compiled twice: four lanes per AVX2 instruction, two per baseline one.
#if VELK_SIMD_AVX2
VELK_AVX2 void deform_chunk_avx2(const Plan& plan, Scratch& s, Point3* pts, std::size_t count) {
  deform_chunk<4>(plan, s, pts, count);
}
#endif

void deform_chunk_plain(const Plan& plan, Scratch& s, Point3* pts, std::size_t count) {
  deform_chunk<2>(plan, s, pts, count);
}

}  // namespace

Result<FreeFormDeformer> make_free_form_deformer(const DesignBlock& block) {
  Result<Matrix4> to_unit = fit_frame(block.frame_points, kUnitFrame);
  if (!to_unit) return fail_with(to_unit.error());
  Result<Matrix4> from_unit = fit_frame(kUnitFrame, block.frame_points);
  if (!from_unit) return fail_with(from_unit.error());
  return FreeFormDeformer{block, *to_unit, *from_unit};
}

Result<NodeList> deform(const FreeFormDeformer& deformer, NodeList points,
                        const NodeList& deformed_design_nodes, const ReadyPoints& ready) {
  const DesignBlock& block = deformer.block;
  if (deformed_design_nodes.size() != block.nodes.size())
    return fail_with(
        Error::deformation("The number of original and deformed design points must match!"));
  const NodeList d = normalised_displacements(block, deformed_design_nodes);
  const Plan plan{block.corners[0],
                  deformer.to_unit_frame,
                  deformer.from_unit_frame,
                  d.data(),
                  {binomial_row(block.resolution.x), binomial_row(block.resolution.y),
                   binomial_row(block.resolution.z)}};
  void (*const chunk)(const Plan&, Scratch&, Point3*, std::size_t) =
      VELK_SIMD_PICK(deform_chunk_avx2, deform_chunk_plain);

  // Chunks are handed out one at a time (dynamic blocks), so a thread slowed by other work on
  // the machine takes fewer of them; each point's result does not depend on who computes it.
  // With a ready callback the finished prefix is passed on in order while the rest is deformed.
  const std::size_t n = points.size();
  const std::size_t chunks = (n + kChunk - 1) / kChunk;
  const std::size_t max_tasks = n < kMinParallelPoints ? 1 : SIZE_MAX;
  const auto make_scratch = [&] { return Scratch(plan); };
  const auto deform_chunk = [&](Scratch& scratch, std::size_t c) {
    const std::size_t begin = c * kChunk;
    chunk(plan, scratch, points.data() + begin, std::min(kChunk, n - begin));
  };
  if (ready)
    pool::for_each_block_in_order(
        chunks, max_tasks, make_scratch, deform_chunk,
        [&](std::size_t done) { ready(points.data(), std::min(n, done * kChunk)); });
  else
    pool::for_each_block(chunks, max_tasks, make_scratch, deform_chunk);
  return points;
}

}  // namespace velk::morph
