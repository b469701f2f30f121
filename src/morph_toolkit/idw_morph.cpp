// Inverse distance weighting: the checks of a new morph, and its evaluation. Points go through
// the kernel four at a time (one AVX2 lane each, the controls broadcast in order) or one at a
// time on the plain path; both do the same operations per point in the same order, fused
// multiply-adds included, so they give the same bits. A point whose plain sum cannot be trusted
// (it sits on a control, or its weights overflow or underflow) is evaluated again on its own
// with weights scaled by the nearest control, exactly at a control.
#include "morph_toolkit/idw_morph.hpp"

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <string>

#include "core/cpu_dispatch.hpp"
#include "morph_toolkit/errors.hpp"

#if defined(__x86_64__)
#include <immintrin.h>
#endif

namespace velk::toolkit {

namespace idw_eval {

// Powers that are whole multiples of 1/2 up to this bound get a weight from one division, at
// most two square roots and a few products; other powers call std::pow per pair.
constexpr int kMaxHalfSteps = 64;
// A weight sum below this (or infinite) means the sums may have lost terms to underflow, or
// overflowed: the point is evaluated again with scaled weights.
constexpr double kSmallestSum = 1e-200;

struct Columns {
  const double *x, *y, *z, *dx, *dy, *dz;
  std::size_t n;
};

// The weight of a squared distance: (r2)^(-power / 2). With half_steps = 2 * power,
// r2^(-half_steps / 4) = (1 / r2)^(half_steps / 4) times a square root or a fourth root.
struct Weight {
  int whole;  // half_steps / 4, or -1 for std::pow
  int root;   // half_steps % 4
  double power;
};

double weight_plain(double r2, const Weight& k) {
  if (k.whole < 0) return std::pow(r2, -0.5 * k.power);
  const double inv = 1.0 / r2;
  double w = k.whole > 0 ? inv : 1.0;
  for (int i = 1; i < k.whole; ++i) w = w * inv;
  if (k.root == 2) {
    w = w * std::sqrt(inv);
  } else if (k.root == 1) {
    w = w * std::sqrt(std::sqrt(inv));
  } else if (k.root == 3) {
    const double s = std::sqrt(inv);
    w = w * (s * std::sqrt(s));
  }
  return w;
}

// sums = (sum w, sum w dx, sum w dy, sum w dz) for the point p.
void sums_plain(const Columns& c, const double* p, const Weight& k, double* sums) {
  double W = 0.0, sx = 0.0, sy = 0.0, sz = 0.0;
  for (std::size_t j = 0; j < c.n; ++j) {
    const double ex = p[0] - c.x[j], ey = p[1] - c.y[j], ez = p[2] - c.z[j];
    double r2 = ex * ex;
    r2 = std::fma(ey, ey, r2);
    r2 = std::fma(ez, ez, r2);
    const double w = weight_plain(r2, k);
    W = W + w;
    sx = std::fma(w, c.dx[j], sx);
    sy = std::fma(w, c.dy[j], sy);
    sz = std::fma(w, c.dz[j], sz);
  }
  sums[0] = W, sums[1] = sx, sums[2] = sy, sums[3] = sz;
}

#if defined(__x86_64__)
// sums[lane][0..3] for the four points at p (12 doubles), the same operations as sums_plain.
template <int Root>
__attribute__((target("avx2,fma"))) void sums_avx2(const Columns& c, const double* p,
                                                   const Weight& k, double (*sums)[4]) {
  const __m256d px = _mm256_set_pd(p[9], p[6], p[3], p[0]);
  const __m256d py = _mm256_set_pd(p[10], p[7], p[4], p[1]);
  const __m256d pz = _mm256_set_pd(p[11], p[8], p[5], p[2]);
  const __m256d one = _mm256_set1_pd(1.0);
  __m256d W = _mm256_setzero_pd(), sx = W, sy = W, sz = W;
  for (std::size_t j = 0; j < c.n; ++j) {
    const __m256d ex = _mm256_sub_pd(px, _mm256_broadcast_sd(c.x + j));
    const __m256d ey = _mm256_sub_pd(py, _mm256_broadcast_sd(c.y + j));
    const __m256d ez = _mm256_sub_pd(pz, _mm256_broadcast_sd(c.z + j));
    __m256d r2 = _mm256_mul_pd(ex, ex);
    r2 = _mm256_fmadd_pd(ey, ey, r2);
    r2 = _mm256_fmadd_pd(ez, ez, r2);
    __m256d w;
    if constexpr (Root < 0) {
      alignas(32) double lanes[4];
      _mm256_store_pd(lanes, r2);
      for (double& v : lanes) v = std::pow(v, -0.5 * k.power);
      w = _mm256_load_pd(lanes);
    } else {
      const __m256d inv = _mm256_div_pd(one, r2);
      w = k.whole > 0 ? inv : one;
      for (int i = 1; i < k.whole; ++i) w = _mm256_mul_pd(w, inv);
      if constexpr (Root == 2) {
        w = _mm256_mul_pd(w, _mm256_sqrt_pd(inv));
      } else if constexpr (Root == 1) {
        w = _mm256_mul_pd(w, _mm256_sqrt_pd(_mm256_sqrt_pd(inv)));
      } else if constexpr (Root == 3) {
        const __m256d s = _mm256_sqrt_pd(inv);
        w = _mm256_mul_pd(w, _mm256_mul_pd(s, _mm256_sqrt_pd(s)));
      }
    }
    W = _mm256_add_pd(W, w);
    sx = _mm256_fmadd_pd(w, _mm256_broadcast_sd(c.dx + j), sx);
    sy = _mm256_fmadd_pd(w, _mm256_broadcast_sd(c.dy + j), sy);
    sz = _mm256_fmadd_pd(w, _mm256_broadcast_sd(c.dz + j), sz);
  }
  alignas(32) double lanes[4][4];
  _mm256_store_pd(lanes[0], W);
  _mm256_store_pd(lanes[1], sx);
  _mm256_store_pd(lanes[2], sy);
  _mm256_store_pd(lanes[3], sz);
  for (int lane = 0; lane < 4; ++lane)
    for (int q = 0; q < 4; ++q) sums[lane][q] = lanes[q][lane];
}

void sums_avx2_for(const Columns& c, const double* p, const Weight& k, double (*sums)[4]) {
  if (k.whole < 0) return sums_avx2<-1>(c, p, k, sums);
  switch (k.root) {
    case 0:
      return sums_avx2<0>(c, p, k, sums);
    case 1:
      return sums_avx2<1>(c, p, k, sums);
    case 2:
      return sums_avx2<2>(c, p, k, sums);
    default:
      return sums_avx2<3>(c, p, k, sums);
  }
}
#endif

bool use_avx2() {
#if defined(__x86_64__)
  return cpu::avx2_fma_enabled();
#else
  return false;
#endif
}

// The displacement from the sums, or false when they cannot be trusted.
bool from_sums(const double* sums, double* out) {
  const double W = sums[0];
  if (!(W >= kSmallestSum && W <= DBL_MAX)) return false;
  for (int q = 0; q < 3; ++q) out[q] = sums[q + 1] / W;
  return std::isfinite(out[0]) && std::isfinite(out[1]) && std::isfinite(out[2]);
}

// The displacement at p computed so that nothing overflows: the prescribed one at a control,
// else a convex combination with weights (r_min / r_i)^power <= 1 (distances taken from halved
// coordinates, so no difference overflows).
void careful_point(const Columns& c, std::span<const double> controls, const ExactPointIndex& index,
                   const double* p, double power, double* out) {
  const std::ptrdiff_t hit = index.find(controls, p);
  if (hit >= 0) {
    out[0] = c.dx[hit], out[1] = c.dy[hit], out[2] = c.dz[hit];
    return;
  }
  std::vector<double> r(c.n);
  double r_min = INFINITY;
  for (std::size_t j = 0; j < c.n; ++j) {
    r[j] =
        std::hypot(0.5 * p[0] - 0.5 * c.x[j], 0.5 * p[1] - 0.5 * c.y[j], 0.5 * p[2] - 0.5 * c.z[j]);
    r_min = std::min(r_min, r[j]);
  }
  // Halving may merge two distinct subnormal coordinates: the controls at distance 0 then
  // share the point equally.
  double W = 0.0;
  for (std::size_t j = 0; j < c.n; ++j) {
    r[j] = r_min == 0.0 ? (r[j] == 0.0 ? 1.0 : 0.0) : std::pow(r_min / r[j], power);
    W += r[j];
  }
  double s[3] = {0.0, 0.0, 0.0};
  for (std::size_t j = 0; j < c.n; ++j) {
    const double u = r[j] / W;
    s[0] += u * c.dx[j], s[1] += u * c.dy[j], s[2] += u * c.dz[j];
  }
  for (int q = 0; q < 3; ++q) out[q] = s[q];
}

// Points evaluated per block: about 2^18 point-control pairs, a multiple of four points.
std::size_t points_per_block(std::size_t controls) {
  const std::size_t points =
      ((std::size_t{1} << 18) / std::max<std::size_t>(controls, 1) + 3) & ~std::size_t{3};
  return std::clamp<std::size_t>(points, 4, 4096);
}

}  // namespace idw_eval

IdwMorph::IdwMorph(std::vector<double> controls, std::vector<double> displacements, double power)
    : controls_(std::move(controls)), displacements_(std::move(displacements)), power_(power) {
  if (!(power_ > 0.0) || !std::isfinite(power_))
    throw InvalidInput("power must be a positive finite number, got " + std::to_string(power_));
  if (displacements_.size() != controls_.size())
    throw InvalidInput("displacements has " + std::to_string(displacements_.size() / 3) +
                       " rows but control_points has " + std::to_string(size()) +
                       "; they must have the same length");
  if (controls_.empty()) throw InvalidInput("control_points holds no points");
  index_ = ExactPointIndex(controls_);
  const std::size_t n = size();
  columns_.resize(6 * n);
  for (std::size_t j = 0; j < n; ++j)
    for (int q = 0; q < 3; ++q) {
      columns_[q * n + j] = controls_[3 * j + q];
      columns_[(3 + q) * n + j] = displacements_[3 * j + q];
    }
  const double half_steps = 2.0 * power_;
  half_steps_ = half_steps == std::floor(half_steps) && half_steps <= idw_eval::kMaxHalfSteps
                    ? static_cast<int>(half_steps)
                    : 0;
}

std::vector<double> IdwMorph::displacement(std::span<const double> points,
                                           const ProgressCallback* progress) const {
  using namespace idw_eval;
  const std::size_t n = size(), m = points.size() / 3;
  const Columns c{columns_.data(),
                  columns_.data() + n,
                  columns_.data() + 2 * n,
                  columns_.data() + 3 * n,
                  columns_.data() + 4 * n,
                  columns_.data() + 5 * n,
                  n};
  const Weight k =
      half_steps_ ? Weight{half_steps_ / 4, half_steps_ % 4, power_} : Weight{-1, 0, power_};
  [[maybe_unused]] const bool avx2 = use_avx2();
  std::vector<double> out(3 * m);
  ProgressMeter meter(progress, m);
  for_unit_blocks(m, points_per_block(n), meter, [&](std::size_t first, std::size_t last) {
    for (std::size_t i = first; i < last;) {
      double sums[4][4];
      std::size_t count = 1;
#if defined(__x86_64__)
      if (avx2) {
        // Four points, the last valid one repeated to fill the group.
        count = std::min<std::size_t>(4, last - i);
        double group[12];
        for (std::size_t lane = 0; lane < 4; ++lane)
          std::copy_n(points.data() + 3 * (i + std::min(lane, count - 1)), 3, group + 3 * lane);
        sums_avx2_for(c, group, k, sums);
      } else
#endif
        sums_plain(c, points.data() + 3 * i, k, sums[0]);
      for (std::size_t lane = 0; lane < count; ++lane, ++i)
        if (!from_sums(sums[lane], out.data() + 3 * i))
          careful_point(c, controls_, index_, points.data() + 3 * i, power_, out.data() + 3 * i);
    }
  });
  return out;
}

std::vector<double> IdwMorph::deform(std::span<const double> points,
                                     const ProgressCallback* progress) const {
  std::vector<double> out = displacement(points, progress);
  for (std::size_t i = 0; i < out.size(); ++i) out[i] = points[i] + out[i];
  return out;
}

}  // namespace velk::toolkit
