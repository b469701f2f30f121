// Fitting and evaluating the RBF interpolant. The prediction takes the queries eight at a time,
// one per vector lane: for each chunk of centres the distances and the kernel's vector step run
// on the lanes, the C library's exp or log runs per value, and each lane's sum takes its centres'
// terms in centre order. Blocks of queries run on the worker pool.
#include "interp/rbf_interpolator.hpp"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <optional>

#include "core/internal_failure.hpp"
#include "core/worker_pool.hpp"
#include "interp/kernel_set.hpp"
#include "interp/rbf_lanes.hpp"

namespace velk::interp {

namespace {

// The largest absolute difference between two points' components; NaN when either holds one.
double component_miss(const Point3& a, const Point3& b) {
  const double dx = std::fabs(a.x - b.x), dy = std::fabs(a.y - b.y), dz = std::fabs(a.z - b.z);
  if (dx != dx || dy != dy || dz != dz) return dx + dy + dz;
  return std::max({dx, dy, dz});
}

// How far the values spread: the widest per-axis range, or, when they all agree, the largest
// magnitude among them.
double value_spread(const NodeList& values) {
  Point3 lo = values[0], hi = values[0];
  double largest = 0.0;
  for (const Point3& v : values) {
    lo = {std::min(lo.x, v.x), std::min(lo.y, v.y), std::min(lo.z, v.z)};
    hi = {std::max(hi.x, v.x), std::max(hi.y, v.y), std::max(hi.z, v.z)};
    largest = std::max({largest, std::fabs(v.x), std::fabs(v.y), std::fabs(v.z)});
  }
  const double range = std::max({hi.x - lo.x, hi.y - lo.y, hi.z - lo.z});
  return range > 0.0 ? range : largest;
}

}  // namespace

// The fitted interpolant evaluated at its own centres must give back the values up to
// rounding: a miss beyond kFitTolerance times the values' spread means the solve returned
// the numbers of a singular system. A NaN at a centre is left to the prediction, which reports
// it whatever is asked.
std::optional<std::string> control_miss(const RbfModel& model) {
  auto at_centres = predict(model, model.centres);
  if (!at_centres) return std::nullopt;
  const double bound = kFitTolerance * value_spread(model.values);
  double worst = 0.0;
  std::size_t worst_at = 0;
  for (std::size_t i = 0; i < model.centres.size(); ++i) {
    const double miss = component_miss((*at_centres)[i], model.values[i]);
    if (!(miss <= worst)) worst = miss, worst_at = i;
  }
  if (worst <= bound) return std::nullopt;
  return "Singular system: the solution misses control point " + std::to_string(worst_at) +
         " beyond rounding";
}

std::expected<RbfModel, std::string> fit(const NodeList& centres, const NodeList& values,
                                         RbfKernel kernel, double epsilon) {
  if (centres.size() != values.size()) internal_failure("x and y must have the same length");
  // The kernel matrix is symmetric bit for bit (see kernel_matrix).
  auto weights =
      solve_linear_system(kernels().kernel_matrix(centres, kernel, epsilon), values, true);
  if (!weights) return std::unexpected(std::move(weights.error()));
  RbfModel model{centres, values, std::move(*weights), kernel, epsilon};
  if (auto miss = control_miss(model)) return std::unexpected(std::move(*miss));
  return model;
}

namespace {

// Queries per group (one per lane: two vectors of four) and centres per chunk.
constexpr std::size_t kLanes = 8;
constexpr std::size_t kChunk = 256;
// Groups of queries per block of parallel work (blocks are handed out one at a time).
constexpr std::size_t kGroupsPerBlock = 32;

// The centres and weights by coordinate.
struct Columns {
  std::vector<double> cx, cy, cz, wx, wy, wz;
  explicit Columns(const RbfModel& m) {
    for (std::size_t j = 0; j < m.centres.size(); ++j) {
      cx.push_back(m.centres[j].x), cy.push_back(m.centres[j].y), cz.push_back(m.centres[j].z);
      wx.push_back(m.weights[j].x), wy.push_back(m.weights[j].y), wz.push_back(m.weights[j].z);
    }
  }
};

// The query lanes of one group: the group's queries, the last one repeated to fill the lanes.
struct Group {
  double x[kLanes], y[kLanes], z[kLanes];
  Group(const NodeList& queries, std::size_t first) {
    for (std::size_t l = 0; l < kLanes; ++l) {
      const Point3& q = queries[std::min(first + l, queries.size() - 1)];
      x[l] = q.x, y[l] = q.y, z[l] = q.z;
    }
  }
};

// Per lane: the kernel of each centre of [j0, j1) into phi[(j - j0)·kLanes + lane], then
// sum += phi · w centre by centre.
template <RbfKernel K>
void group_chunk_plain(const Group& g, const Columns& c, std::size_t j0, std::size_t j1, double e2,
                       double* phi, Point3* sum) {
  for (std::size_t j = j0; j < j1; ++j)
    for (std::size_t l = 0; l < kLanes; ++l)
      phi[(j - j0) * kLanes + l] = Kernel<K>::prepare(
          clamped_squared_distance({g.x[l], g.y[l], g.z[l]}, {c.cx[j], c.cy[j], c.cz[j]}), e2);
  if constexpr (Kernel<K>::has_finish)
    for (std::size_t m = 0; m < (j1 - j0) * kLanes; ++m) phi[m] = Kernel<K>::finish(phi[m]);
  for (std::size_t j = j0; j < j1; ++j)
    for (std::size_t l = 0; l < kLanes; ++l) {
      const double p = phi[(j - j0) * kLanes + l];
      sum[l].x += p * c.wx[j];
      sum[l].y += p * c.wy[j];
      sum[l].z += p * c.wz[j];
    }
}

#if VELK_SIMD_AVX2
// The same on vector lanes: lanes [4h, 4h + 4) are vector h, and each sum is kept as vectors
// (x, y, z of four queries), so the group's sums form six independent chains of additions.
template <RbfKernel K>
VELK_AVX2 void group_chunk_avx2(const Group& g, const Columns& c, std::size_t j0, std::size_t j1,
                                double e2, double* phi, __m256d (&sum)[3][2]) {
  const __m256d e2v = _mm256_set1_pd(e2);
  const __m256d qx0 = _mm256_loadu_pd(g.x), qy0 = _mm256_loadu_pd(g.y), qz0 = _mm256_loadu_pd(g.z);
  const __m256d qx1 = _mm256_loadu_pd(g.x + 4), qy1 = _mm256_loadu_pd(g.y + 4),
                qz1 = _mm256_loadu_pd(g.z + 4);
  double* out = phi;
  for (std::size_t j = j0; j < j1; ++j, out += kLanes) {
    const __m256d cx = _mm256_set1_pd(c.cx[j]), cy = _mm256_set1_pd(c.cy[j]),
                  cz = _mm256_set1_pd(c.cz[j]);
    const __m256d s0 = lanes::clamped_squared_distance(
        _mm256_sub_pd(qx0, cx), _mm256_sub_pd(qy0, cy), _mm256_sub_pd(qz0, cz));
    const __m256d s1 = lanes::clamped_squared_distance(
        _mm256_sub_pd(qx1, cx), _mm256_sub_pd(qy1, cy), _mm256_sub_pd(qz1, cz));
    _mm256_storeu_pd(out, lanes::prepare<K>(s0, e2v));
    _mm256_storeu_pd(out + 4, lanes::prepare<K>(s1, e2v));
  }
  if constexpr (Kernel<K>::has_finish)
    for (std::size_t m = 0; m < (j1 - j0) * kLanes; ++m) phi[m] = Kernel<K>::finish(phi[m]);
  __m256d x0 = sum[0][0], x1 = sum[0][1], y0 = sum[1][0], y1 = sum[1][1], z0 = sum[2][0],
          z1 = sum[2][1];
  const double* p = phi;
  for (std::size_t j = j0; j < j1; ++j, p += kLanes) {
    const __m256d p0 = _mm256_loadu_pd(p), p1 = _mm256_loadu_pd(p + 4);
    const __m256d wx = _mm256_set1_pd(c.wx[j]), wy = _mm256_set1_pd(c.wy[j]),
                  wz = _mm256_set1_pd(c.wz[j]);
    x0 = _mm256_add_pd(x0, _mm256_mul_pd(p0, wx));
    x1 = _mm256_add_pd(x1, _mm256_mul_pd(p1, wx));
    y0 = _mm256_add_pd(y0, _mm256_mul_pd(p0, wy));
    y1 = _mm256_add_pd(y1, _mm256_mul_pd(p1, wy));
    z0 = _mm256_add_pd(z0, _mm256_mul_pd(p0, wz));
    z1 = _mm256_add_pd(z1, _mm256_mul_pd(p1, wz));
  }
  sum[0][0] = x0, sum[0][1] = x1, sum[1][0] = y0, sum[1][1] = y1, sum[2][0] = z0, sum[2][1] = z1;
}

template <RbfKernel K>
VELK_AVX2 void predict_group_avx2(const Group& g, const Columns& c, double e2, double* phi,
                                  Point3* out) {
  __m256d sum[3][2];
  for (auto& axis : sum) axis[0] = axis[1] = _mm256_setzero_pd();
  const std::size_t n = c.cx.size();
  for (std::size_t j0 = 0; j0 < n; j0 += kChunk)
    group_chunk_avx2<K>(g, c, j0, std::min(j0 + kChunk, n), e2, phi, sum);
  double x[kLanes], y[kLanes], z[kLanes];
  for (std::size_t h = 0; h < 2; ++h) {
    _mm256_storeu_pd(x + 4 * h, sum[0][h]);
    _mm256_storeu_pd(y + 4 * h, sum[1][h]);
    _mm256_storeu_pd(z + 4 * h, sum[2][h]);
  }
  for (std::size_t l = 0; l < kLanes; ++l) out[l] = {x[l], y[l], z[l]};
}
#endif

template <RbfKernel K>
void predict_group_plain(const Group& g, const Columns& c, double e2, double* phi, Point3* out) {
  for (std::size_t l = 0; l < kLanes; ++l) out[l] = {0.0, 0.0, 0.0};
  const std::size_t n = c.cx.size();
  for (std::size_t j0 = 0; j0 < n; j0 += kChunk)
    group_chunk_plain<K>(g, c, j0, std::min(j0 + kChunk, n), e2, phi, out);
}

}  // namespace

std::expected<NodeList, std::string> predict(const RbfModel& model, const NodeList& queries) {
  NodeList out(queries.size());
  const Columns columns(model);
  const double e2 = model.epsilon * model.epsilon;
  const std::size_t groups = (queries.size() + kLanes - 1) / kLanes;
  const std::size_t blocks = (groups + kGroupsPerBlock - 1) / kGroupsPerBlock;
  // Set when some query's sum holds a NaN; the failure is the same whichever query it is.
  std::atomic<bool> nan_found{false};
  with_kernel(model.kernel, [&](auto kind) {
    constexpr RbfKernel K = decltype(kind)::value;
    void (*const predict_group)(const Group&, const Columns&, double, double*, Point3*) =
        VELK_SIMD_PICK(predict_group_avx2<K>, predict_group_plain<K>);
    // Each task keeps one kernel-value buffer for all the blocks it takes.
    pool::for_each_block(
        blocks, SIZE_MAX, [] { return std::vector<double>(kChunk * kLanes); },
        [&](std::vector<double>& phi, std::size_t b) {
          if (nan_found.load(std::memory_order_relaxed)) return;
          const std::size_t g1 = std::min((b + 1) * kGroupsPerBlock, groups);
          for (std::size_t g = b * kGroupsPerBlock; g < g1; ++g) {
            const std::size_t first = g * kLanes;
            const Group lanes(queries, first);
            Point3 sums[kLanes];
            predict_group(lanes, columns, e2, phi.data(), sums);
            const std::size_t count = std::min(kLanes, queries.size() - first);
            for (std::size_t l = 0; l < count; ++l) {
              if (has_nan(sums[l])) nan_found.store(true, std::memory_order_relaxed);
              out[first + l] = sums[l];
            }
          }
        });
  });
  if (nan_found.load()) return std::unexpected<std::string>("NaN values in output");
  return out;
}

}  // namespace velk::interp
