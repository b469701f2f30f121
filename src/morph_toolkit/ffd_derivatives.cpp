// Jacobian products and the sparse Jacobian of free-form deformation. The lattice parameters and
// the inside test of each point are those of the deformer; the Bernstein weights come from the
// deformer's group kernels (several points side by side, one per vector lane).
#include "morph_toolkit/ffd_derivatives.hpp"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <limits>
#include <string>

#include "core/checked_size.hpp"
#include "core/interrupt.hpp"
#include "core/rotation.hpp"
#include "core/simd.hpp"
#include "core/worker_pool.hpp"
#include "morph/bernstein.hpp"
#include "morph_toolkit/errors.hpp"
#include "morph_toolkit/vectors.hpp"

namespace velk::toolkit {

using morph::group_lanes;
using morph::load_vector;
using simd::Vector;

namespace {

constexpr std::size_t kChunk = 256;              // points packed at a time
constexpr std::size_t kBlockChunks = 64;         // chunks summed together by the reverse product
constexpr std::size_t kMinParallelPoints = 512;  // below this, the calling thread works alone
constexpr std::size_t kMaxGroupLanes = group_lanes<4>;

Matrix3 point_derivative(const morph::FreeFormDeformer& d) {
  const Matrix3 back = inverse_rotation_matrix(d.block.theta);
  const Point3& inv = d.block.inverse_lengths;
  const double scale[3] = {inv.x, inv.y, inv.z};
  Matrix3 m{};
  for (int c = 0; c < 3; ++c)
    for (int b = 0; b < 3; ++b)
      for (int a = 0; a < 3; ++a) m[c][b] += d.from_unit_frame[a][c] * (scale[a] * back[a][b]);
  return m;
}

// What every chunk of one call shares: the map into the unit frame and the binomial rows.
struct Plan {
  explicit Plan(const morph::FreeFormDeformer& d)
      : c0(d.block.corners[0]),
        to_unit(d.to_unit_frame),
        binomials{morph::binomial_row(d.block.resolution.x),
                  morph::binomial_row(d.block.resolution.y),
                  morph::binomial_row(d.block.resolution.z)} {}
  Point3 c0;
  Matrix4 to_unit;
  std::array<std::vector<double>, 3> binomials;
  std::size_t order1(int axis) const { return binomials[axis].size(); }
};

// The lattice parameters of point p, in the deformer's operation order; true when inside.
bool parameters(const Plan& plan, const double* p, double q[3]) {
  const double x = p[0] - plan.c0.x, y = p[1] - plan.c0.y, z = p[2] - plan.c0.z;
  const Matrix4& f = plan.to_unit;
  for (int c = 0; c < 3; ++c) q[c] = ((x * f[0][c] + y * f[1][c]) + z * f[2][c]) + f[3][c];
  return q[0] >= 0.0 && q[0] <= 1.0 && q[1] >= 0.0 && q[1] <= 1.0 && q[2] >= 0.0 && q[2] <= 1.0;
}

// One task's buffers: the packed parameters of a chunk's inside points and their positions, the
// weights of one group, and a group's result or cotangents (entry a, lane l at a·lanes + l).
struct Scratch {
  explicit Scratch(const Plan& plan) : index(kChunk), lanes(3 * kMaxGroupLanes) {
    for (auto& axis : q) axis.resize(kChunk + kMaxGroupLanes);
    for (int a = 0; a < 3; ++a) weights[a].resize(plan.order1(a) * kMaxGroupLanes);
  }
  std::array<std::vector<double>, 3> q;
  std::vector<std::size_t> index;
  std::array<std::vector<double>, 3> weights;
  std::vector<double> lanes;
};

// Packs the inside points of pts[0, count) and calls use(first, width) for every group of
// group_lanes<W> of them, with their weights in s.weights; lanes past the last inside point hold
// the block's middle and must be ignored.
template <std::size_t W, class Use>
[[gnu::always_inline]] inline void for_inside_groups(const Plan& plan, Scratch& s,
                                                     const double* pts, std::size_t count,
                                                     Use&& use) {
  constexpr std::size_t kGroup = group_lanes<W>;
  std::size_t inside = 0;
  for (std::size_t i = 0; i < count; ++i) {
    double q[3];
    if (!parameters(plan, pts + 3 * i, q)) continue;
    for (int a = 0; a < 3; ++a) s.q[a][inside] = q[a];
    s.index[inside++] = i;
  }
  for (std::size_t l = inside; l % kGroup != 0; ++l) s.q[0][l] = s.q[1][l] = s.q[2][l] = 0.5;
  for (std::size_t g = 0; g < inside; g += kGroup) {
    for (int a = 0; a < 3; ++a)
      morph::bernstein_weights_group<W>(&s.q[a][g], plan.binomials[a], s.weights[a].data());
    use(g, std::min(kGroup, inside - g));
  }
}

// Forward product of one chunk: out rows of the inside points = blend of the premultiplied
// tangents mt; the caller zeroed out.
struct Forward {
  template <std::size_t W>
  [[gnu::always_inline]] static inline void run(const Plan& plan, Scratch& s, const Point3* mt,
                                                const double* pts, double* out, std::size_t count) {
    constexpr std::size_t kGroup = group_lanes<W>;
    for_inside_groups<W>(plan, s, pts, count, [&](std::size_t g, std::size_t width) {
      morph::bernstein_blend_group<W>(s.weights[0].data(), plan.order1(0), s.weights[1].data(),
                                      plan.order1(1), s.weights[2].data(), plan.order1(2), mt,
                                      s.lanes.data());
      for (std::size_t l = 0; l < width; ++l)
        for (int a = 0; a < 3; ++a) out[3 * s.index[g + l] + a] = s.lanes[a * kGroup + l];
    });
  }
};

// Reverse product of one chunk: acc (per node, component and lane: [(i·3 + a)·W + l]) gathers
// B_i V_p of the inside points, lane by lane, in point order.
struct Reverse {
  template <std::size_t W>
  [[gnu::always_inline]] static inline void run(const Plan& plan, Scratch& s, const double* pts,
                                                const double* cot, double* acc, std::size_t count) {
    using V = typename Vector<W>::type;
    constexpr std::size_t kGroup = group_lanes<W>;
    for_inside_groups<W>(plan, s, pts, count, [&](std::size_t g, std::size_t width) {
      std::fill(s.lanes.begin(), s.lanes.end(), 0.0);  // lanes without a point add nothing
      for (std::size_t l = 0; l < width; ++l)
        for (int a = 0; a < 3; ++a) s.lanes[a * kGroup + l] = cot[3 * s.index[g + l] + a];
      V v0[3], v1[3];
      for (int a = 0; a < 3; ++a) {
        load_vector<W>(v0[a], s.lanes.data(), a, 0);
        load_vector<W>(v1[a], s.lanes.data(), a, 1);
      }
      morph::for_each_node_weight<W>(s.weights[0].data(), plan.order1(0), s.weights[1].data(),
                                     plan.order1(1), s.weights[2].data(), plan.order1(2),
                                     [&](std::size_t n, const V& w0, const V& w1)
                                         __attribute__((always_inline)) {
                                           double* node = acc + n * 3 * W;
                                           for (int a = 0; a < 3; ++a) {
                                             V sum;
                                             std::memcpy(&sum, node + a * W, sizeof sum);
                                             sum = sum + w0 * v0[a];
                                             sum = sum + w1 * v1[a];
                                             std::memcpy(node + a * W, &sum, sizeof sum);
                                           }
                                         });
    });
  }
};

// A kernel (Forward or Reverse) compiled for AVX2 (four lanes) and for the baseline (two), and
// the one this processor runs.
#if VELK_SIMD_AVX2
template <class Kernel, class... Args>
VELK_AVX2 void on_avx2(Args... args) {
  Kernel::template run<4>(args...);
}
#endif
template <class Kernel, class... Args>
void on_plain(Args... args) {
  Kernel::template run<2>(args...);
}
template <class Kernel, class... Args>
auto compiled() {
  using Form = void (*)(Args...);
#if VELK_SIMD_AVX2
  const Form avx2 = &on_avx2<Kernel, Args...>;
#endif
  const Form plain = &on_plain<Kernel, Args...>;
  return VELK_SIMD_PICK(avx2, plain);
}

// Runs work(scratch, item) for every item in [0, items), handing items out one at a time to one
// task per thread; each item writes only its own outputs.
template <class Work>
void run_items(const Plan& plan, std::size_t items, std::size_t points, Work&& work) {
  const std::size_t tasks = points < kMinParallelPoints ? 1 : std::min(items, pool::thread_count());
  std::atomic<std::size_t> next{0};
  pool::run_blocks(tasks, 2, [&](std::size_t, std::size_t) {
    Scratch scratch(plan);
    for (std::size_t c; (c = next.fetch_add(1, std::memory_order_relaxed)) < items;) {
      interrupt::checkpoint();
      work(scratch, c);
    }
  });
}

}  // namespace

FfdDerivatives::FfdDerivatives(morph::FreeFormDeformer d)
    : deformer(std::move(d)), m(point_derivative(deformer)) {}

std::vector<double> ffd_deform(const FfdDerivatives& ffd, std::span<const double> points,
                               std::span<const double> moved_nodes) {
  Result<NodeList> out = morph::deform(ffd.deformer, point_list(points), point_list(moved_nodes));
  if (!out) throw InvalidInput(out.error().message());
  return flat_points(*out);
}

std::vector<double> ffd_jvp(const FfdDerivatives& ffd, std::span<const double> points,
                            std::span<const double> tangent) {
  const Plan plan(ffd.deformer);
  NodeList mt(ffd.node_count());
  for (std::size_t i = 0; i < mt.size(); ++i) {
    double r[3];
    for (int c = 0; c < 3; ++c)
      r[c] = (ffd.m[c][0] * tangent[3 * i] + ffd.m[c][1] * tangent[3 * i + 1]) +
             ffd.m[c][2] * tangent[3 * i + 2];
    mt[i] = {r[0], r[1], r[2]};
  }
  const auto chunk = compiled<Forward, const Plan&, Scratch&, const Point3*, const double*, double*,
                              std::size_t>();
  const std::size_t n = points.size() / 3;
  std::vector<double> out(points.size(), 0.0);
  run_items(plan, (n + kChunk - 1) / kChunk, n, [&](Scratch& s, std::size_t c) {
    const std::size_t first = c * kChunk;
    chunk(plan, s, mt.data(), points.data() + 3 * first, out.data() + 3 * first,
          std::min(kChunk, n - first));
  });
  return out;
}

std::vector<double> ffd_vjp(const FfdDerivatives& ffd, std::span<const double> points,
                            std::span<const double> cotangent) {
  const Plan plan(ffd.deformer);
  const auto chunk = compiled<Reverse, const Plan&, Scratch&, const double*, const double*, double*,
                              std::size_t>();
  const std::size_t lanes = VELK_SIMD_PICK(std::size_t{4}, std::size_t{2});
  const std::size_t nodes = ffd.node_count(), n = points.size() / 3;
  const std::size_t block_points = kBlockChunks * kChunk;
  const std::size_t blocks = (n + block_points - 1) / block_points;
  // Each block's sums per node and component, lanes added in order.
  std::vector<double> partial(blocks * nodes * 3);
  run_items(plan, blocks, n, [&](Scratch& s, std::size_t b) {
    std::vector<double> acc(nodes * 3 * lanes, 0.0);
    const std::size_t end = std::min(n, (b + 1) * block_points);
    for (std::size_t first = b * block_points; first < end; first += kChunk)
      chunk(plan, s, points.data() + 3 * first, cotangent.data() + 3 * first, acc.data(),
            std::min(kChunk, end - first));
    double* sums = partial.data() + b * nodes * 3;
    for (std::size_t e = 0; e < nodes * 3; ++e) {
      double total = 0.0;
      for (std::size_t l = 0; l < lanes; ++l) total = total + acc[e * lanes + l];
      sums[e] = total;
    }
  });
  std::vector<double> grad(nodes * 3);
  for (std::size_t i = 0; i < nodes; ++i) {
    double s[3] = {0.0, 0.0, 0.0};
    for (std::size_t b = 0; b < blocks; ++b)
      for (int a = 0; a < 3; ++a) s[a] = s[a] + partial[(b * nodes + i) * 3 + a];
    for (int c = 0; c < 3; ++c)
      grad[3 * i + c] = (ffd.m[0][c] * s[0] + ffd.m[1][c] * s[1]) + ffd.m[2][c] * s[2];
  }
  return grad;
}

SparseRows ffd_jacobian(const FfdDerivatives& ffd, std::span<const double> points,
                        std::span<const int64_t> node_ids) {
  const Plan plan(ffd.deformer);
  const std::size_t n = points.size() / 3, k = node_ids.size();
  const Resolution& res = ffd.deformer.block.resolution;
  const std::size_t ny1 = res.y + 1, nz1 = res.z + 1;
  // Stored entries per row of M (its non-zero entries), and per lattice weight.
  std::array<std::vector<int>, 3> m_cols;
  for (int a = 0; a < 3; ++a)
    for (int b = 0; b < 3; ++b)
      if (ffd.m[a][b] != 0.0) m_cols[a].push_back(b);
  const std::size_t per_weight = m_cols[0].size() + m_cols[1].size() + m_cols[2].size();

  // Weights of the listed nodes at every point, zero outside; count the non-zero ones.
  std::size_t inside = 0;
  for (std::size_t p = 0; p < n; ++p) {
    double q[3];
    inside += parameters(plan, points.data() + 3 * p, q);
  }
  const uint64_t bound = sizes::mul(sizes::mul(inside, k), per_weight);
  const uint64_t bytes = sizes::add(sizes::mul(bound, sizeof(double) + sizeof(int32_t)),
                                    sizes::mul(sizes::add(sizes::mul(n, 3), 1), sizeof(int64_t)));
  const std::string what = "the (" + std::to_string(3 * n) + ", " + std::to_string(3 * k) +
                           ") Jacobian of " + std::to_string(inside) + " points inside over " +
                           std::to_string(k) + " lattice nodes (up to " + std::to_string(bound) +
                           " entries)";
  try {
    if (3 * k > static_cast<std::size_t>(std::numeric_limits<int32_t>::max()))
      throw sizes::MemoryRefused(what + " has more columns than a sparse index holds");
    sizes::require_memory(bytes, what);
  } catch (const sizes::MemoryRefused& refused) {
    throw MemoryRefusal(std::string(refused.what()) +
                        "; use Ffd.jvp and Ffd.vjp for products with it instead");
  }

  // Per point: the weights of the listed nodes (empty outside), then the rows' layout.
  const auto weights_at = [&](std::size_t p, std::vector<double>& w) {
    w.assign(k, 0.0);
    double q[3];
    if (!parameters(plan, points.data() + 3 * p, q)) return;
    std::array<std::vector<double>, 3> axis;
    for (int a = 0; a < 3; ++a) {
      const std::vector<double>& c = plan.binomials[a];
      const uint64_t order = c.size() - 1;
      axis[a].resize(c.size());
      for (uint64_t i = 0; i <= order; ++i)
        axis[a][i] = morph::powi(q[a], i) * (morph::powi(1.0 - q[a], order - i) * c[i]);
    }
    for (std::size_t j = 0; j < k; ++j) {
      const auto id = static_cast<std::size_t>(node_ids[j]);
      const std::size_t i = id / (ny1 * nz1), jj = id / nz1 % ny1, kk = id % nz1;
      w[j] = (axis[0][i] * axis[1][jj]) * axis[2][kk];
    }
  };
  SparseRows jac;
  jac.rows = 3 * n;
  jac.cols = 3 * k;
  std::vector<uint32_t> nonzero(n, 0);
  const std::size_t point_blocks = (n + kChunk - 1) / kChunk;
  run_items(plan, point_blocks, n, [&](Scratch&, std::size_t c) {
    std::vector<double> w;
    for (std::size_t p = c * kChunk; p < std::min(n, (c + 1) * kChunk); ++p) {
      weights_at(p, w);
      nonzero[p] = static_cast<uint32_t>(
          std::count_if(w.begin(), w.end(), [](double x) { return x != 0.0; }));
    }
  });
  jac.row_start.resize(3 * n + 1);
  jac.row_start[0] = 0;
  for (std::size_t p = 0; p < n; ++p)
    for (int a = 0; a < 3; ++a)
      jac.row_start[3 * p + a + 1] =
          jac.row_start[3 * p + a] + static_cast<int64_t>(nonzero[p] * m_cols[a].size());
  const auto stored = static_cast<std::size_t>(jac.row_start.back());
  jac.columns.resize(stored);
  jac.values.resize(stored);
  run_items(plan, point_blocks, n, [&](Scratch&, std::size_t c) {
    std::vector<double> w;
    for (std::size_t p = c * kChunk; p < std::min(n, (c + 1) * kChunk); ++p) {
      weights_at(p, w);
      for (int a = 0; a < 3; ++a) {
        auto at = static_cast<std::size_t>(jac.row_start[3 * p + a]);
        for (std::size_t j = 0; j < k; ++j) {
          if (w[j] == 0.0) continue;
          for (int b : m_cols[a]) {
            jac.columns[at] = static_cast<int32_t>(3 * j + b);
            jac.values[at++] = w[j] * ffd.m[a][b];
          }
        }
      }
    }
  });
  return jac;
}

}  // namespace velk::toolkit
