// The kernel arithmetic compiled three times from rbf_lane_math.inc: four AVX2 lanes with FMA,
// one lane with FMA instructions (both chosen at run time when the processor has them), and one
// lane of plain code (std::fma) for any other x86-64 or when VELK_PLAIN_KERNELS=1.
#include "morph_toolkit/rbf_lanes.hpp"

#include <bit>
#include <cmath>
#include <cstdint>
#include <type_traits>

#include "core/constant_dispatch.hpp"
#include "core/cpu_dispatch.hpp"

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#define VELK_TOOLKIT_AVX2 1
#endif

namespace velk::toolkit::lanes {

namespace {

// Calls body(std::integral_constant<Kernel, K>{}) for K = kernel, so the kernel is chosen once,
// outside the loops.
template <class F>
decltype(auto) with_kernel(Kernel kernel, F&& body) {
  using K = Kernel;
  return with_constant<K::linear, K::thin_plate_spline, K::cubic, K::quintic, K::multiquadric,
                       K::inverse_multiquadric, K::inverse_quadratic, K::gaussian, K::wendland_c0,
                       K::wendland_c2, K::wendland_c4>(kernel, std::forward<F>(body));
}

// True when the four-lane and FMA-instruction code may run.
bool fast_path() {
#ifdef VELK_TOOLKIT_AVX2
  return cpu::avx2_fma_enabled();
#else
  return false;
#endif
}

}  // namespace

// One lane, written as plain double arithmetic; also the template of the other paths' ops.
#define VELK_TOOLKIT_SCALAR_OPS                                                                  \
  using V = double;                                                                              \
  using Mask = bool;                                                                             \
  constexpr std::size_t kLanes = 1;                                                              \
  inline V set(double v) {                                                                       \
    return v;                                                                                    \
  }                                                                                              \
  inline V load(const double* p) {                                                               \
    return *p;                                                                                   \
  }                                                                                              \
  inline void store(double* p, V v) {                                                            \
    *p = v;                                                                                      \
  }                                                                                              \
  inline V add(V a, V b) {                                                                       \
    return a + b;                                                                                \
  }                                                                                              \
  inline V sub(V a, V b) {                                                                       \
    return a - b;                                                                                \
  }                                                                                              \
  inline V mul(V a, V b) {                                                                       \
    return a * b;                                                                                \
  }                                                                                              \
  inline V div(V a, V b) {                                                                       \
    return a / b;                                                                                \
  }                                                                                              \
  inline V fma_(V a, V b, V c) {                                                                 \
    return std::fma(a, b, c);                                                                    \
  }                                                                                              \
  inline V sqrt_(V a) {                                                                          \
    return std::sqrt(a);                                                                         \
  }                                                                                              \
  inline V neg(V a) {                                                                            \
    return -a;                                                                                   \
  }                                                                                              \
  inline Mask less(V a, V b) {                                                                   \
    return a < b;                                                                                \
  }                                                                                              \
  inline Mask equal(V a, V b) {                                                                  \
    return a == b;                                                                               \
  }                                                                                              \
  inline V select(Mask m, V a, V b) {                                                            \
    return m ? a : b;                                                                            \
  }                                                                                              \
  inline V round_(V a) {                                                                         \
    return std::nearbyint(a);                                                                    \
  }                                                                                              \
  inline void exponent_split(V x, V& k, V& m) {                                                  \
    const std::uint64_t bits = std::bit_cast<std::uint64_t>(x);                                  \
    k = static_cast<double>(static_cast<std::int64_t>(bits >> 52) - 1023);                       \
    m = std::bit_cast<double>((bits & 0x000fffffffffffffULL) | 0x3ff0000000000000ULL);           \
  }                                                                                              \
  inline V pow2(V k) {                                                                           \
    return std::bit_cast<double>(static_cast<std::uint64_t>(static_cast<std::int64_t>(k) + 1023) \
                                 << 52);                                                         \
  }

namespace plain {
VELK_TOOLKIT_SCALAR_OPS
#include "morph_toolkit/rbf_lane_math.inc"
#include "morph_toolkit/rbf_scalar_sums.inc"
}  // namespace plain

#ifdef VELK_TOOLKIT_AVX2
#pragma GCC push_options
#pragma GCC target("avx2,fma")

namespace one {
VELK_TOOLKIT_SCALAR_OPS
#include "morph_toolkit/rbf_lane_math.inc"
#include "morph_toolkit/rbf_scalar_sums.inc"
}  // namespace one

namespace four {
using V = __m256d;
using Mask = __m256d;
constexpr std::size_t kLanes = 4;
inline V set(double v) {
  return _mm256_set1_pd(v);
}
inline V load(const double* p) {
  return _mm256_loadu_pd(p);
}
inline void store(double* p, V v) {
  _mm256_storeu_pd(p, v);
}
inline V add(V a, V b) {
  return _mm256_add_pd(a, b);
}
inline V sub(V a, V b) {
  return _mm256_sub_pd(a, b);
}
inline V mul(V a, V b) {
  return _mm256_mul_pd(a, b);
}
inline V div(V a, V b) {
  return _mm256_div_pd(a, b);
}
inline V fma_(V a, V b, V c) {
  return _mm256_fmadd_pd(a, b, c);
}
inline V sqrt_(V a) {
  return _mm256_sqrt_pd(a);
}
inline V neg(V a) {
  return _mm256_xor_pd(a, _mm256_set1_pd(-0.0));
}
inline Mask less(V a, V b) {
  return _mm256_cmp_pd(a, b, _CMP_LT_OQ);
}
inline Mask equal(V a, V b) {
  return _mm256_cmp_pd(a, b, _CMP_EQ_OQ);
}
inline V select(Mask m, V a, V b) {
  return _mm256_blendv_pd(b, a, m);
}
inline V round_(V a) {
  return _mm256_round_pd(a, _MM_FROUND_TO_NEAREST_INT | _MM_FROUND_NO_EXC);
}
inline void exponent_split(V x, V& k, V& m) {
  const __m256i bits = _mm256_castpd_si256(x);
  // The biased exponent (11 bits) becomes a double through the 2^52 bias trick, exactly.
  const __m256i e = _mm256_srli_epi64(bits, 52);
  const __m256d magic = _mm256_set1_pd(4503599627370496.0);  // 2^52
  const V biased =
      _mm256_sub_pd(_mm256_castsi256_pd(_mm256_or_si256(e, _mm256_castpd_si256(magic))), magic);
  k = _mm256_sub_pd(biased, _mm256_set1_pd(1023.0));
  m = _mm256_castsi256_pd(
      _mm256_or_si256(_mm256_and_si256(bits, _mm256_set1_epi64x(0x000fffffffffffffLL)),
                      _mm256_set1_epi64x(0x3ff0000000000000LL)));
}
inline V pow2(V k) {
  // k + 1023 is an integer in [1, 2046]: added to 2^52 it sits in the low mantissa bits.
  const __m256d magic = _mm256_set1_pd(4503599627370496.0);
  const __m256i biased =
      _mm256_castpd_si256(_mm256_add_pd(_mm256_add_pd(k, _mm256_set1_pd(1023.0)), magic));
  const __m256i low = _mm256_and_si256(biased, _mm256_set1_epi64x(0x7ff));
  return _mm256_castsi256_pd(_mm256_slli_epi64(low, 52));
}
#include "morph_toolkit/rbf_lane_math.inc"
}  // namespace four

#pragma GCC pop_options
#endif

void phi_row(Kernel kernel, double px, double py, double pz, const double* cx, const double* cy,
             const double* cz, std::size_t padded, double e2, double* out) {
  with_kernel(kernel, [&](auto k) {
    constexpr Kernel K = decltype(k)::value;
#ifdef VELK_TOOLKIT_AVX2
    if (fast_path()) return four::phi_row<K>(px, py, pz, cx, cy, cz, padded, e2, out);
#endif
    plain::phi_row<K>(px, py, pz, cx, cy, cz, padded, e2, out);
  });
}

void kernel_sums(Kernel kernel, const double* qx, const double* qy, const double* qz,
                 std::size_t count, const double* cx, const double* cy, const double* cz,
                 const double* w0, const double* w1, const double* w2, std::size_t n, double e2,
                 double* out0, double* out1, double* out2) {
  with_kernel(kernel, [&](auto k) {
    constexpr Kernel K = decltype(k)::value;
#ifdef VELK_TOOLKIT_AVX2
    if (fast_path())
      return four::kernel_sums<K>(qx, qy, qz, count, cx, cy, cz, w0, w1, w2, n, e2, out0, out1,
                                  out2);
#endif
    plain::kernel_sums<K>(qx, qy, qz, count, cx, cy, cz, w0, w1, w2, n, e2, out0, out1, out2);
  });
}

void compact_sums(Kernel kernel, double px, double py, double pz, const std::size_t* ranges,
                  std::size_t range_count, const double* cx, const double* cy, const double* cz,
                  const double* w0, const double* w1, const double* w2, double e2, double* out) {
  with_kernel(kernel, [&](auto k) {
    constexpr Kernel K = decltype(k)::value;
#ifdef VELK_TOOLKIT_AVX2
    if (fast_path())
      return one::compact_sums<K>(px, py, pz, ranges, range_count, cx, cy, cz, w0, w1, w2, e2, out);
#endif
    plain::compact_sums<K>(px, py, pz, ranges, range_count, cx, cy, cz, w0, w1, w2, e2, out);
  });
}

std::size_t compact_row(Kernel kernel, double px, double py, double pz, const std::size_t* ranges,
                        std::size_t range_count, const double* cx, const double* cy,
                        const double* cz, double e2, std::uint32_t* cols, double* values) {
  return with_kernel(kernel, [&](auto k) -> std::size_t {
    constexpr Kernel K = decltype(k)::value;
#ifdef VELK_TOOLKIT_AVX2
    if (fast_path())
      return one::compact_row<K>(px, py, pz, ranges, range_count, cx, cy, cz, e2, cols, values);
#endif
    return plain::compact_row<K>(px, py, pz, ranges, range_count, cx, cy, cz, e2, cols, values);
  });
}

}  // namespace velk::toolkit::lanes
