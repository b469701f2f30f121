// Four-lane (AVX2) versions of the clamped squared distance and of each kernel's prepare step
// (rbf_kernels.hpp), lane for lane the same operations as the scalar formulas.
#pragma once

#include "core/simd.hpp"
#include "interp/rbf_kernels.hpp"

#if VELK_SIMD_AVX2

namespace velk::interp::lanes {

// ((dx² + dy²) + dz²) per lane, then the EPS floor for numbers (a NaN stays NaN, as
// s < EPS ? EPS : s does).
VELK_AVX2 inline __m256d clamped_squared_distance(__m256d dx, __m256d dy, __m256d dz) {
  const __m256d s = _mm256_add_pd(_mm256_add_pd(_mm256_mul_pd(dx, dx), _mm256_mul_pd(dy, dy)),
                                  _mm256_mul_pd(dz, dz));
  const __m256d eps = _mm256_set1_pd(EPS);
  return _mm256_blendv_pd(s, eps, _mm256_cmp_pd(s, eps, _CMP_LT_OQ));
}

// Kernel<K>::prepare(s, e2) on four lanes.
template <RbfKernel K>
VELK_AVX2 inline __m256d prepare(__m256d s, __m256d e2) {
  if constexpr (K == RbfKernel::gaussian)
    return _mm256_div_pd(_mm256_mul_pd(s, _mm256_set1_pd(-0.5)), e2);
  else if constexpr (K == RbfKernel::multiquadric)
    return _mm256_sqrt_pd(_mm256_add_pd(e2, s));
  else if constexpr (K == RbfKernel::inverse_multiquadratic)
    return _mm256_div_pd(_mm256_set1_pd(1.0), _mm256_sqrt_pd(_mm256_add_pd(e2, s)));
  else if constexpr (K == RbfKernel::cubic)
    return _mm256_mul_pd(s, s);
  else
    return s;
}

}  // namespace velk::interp::lanes

#endif
