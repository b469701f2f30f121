// The one SIMD idiom of velk's kernels: the vector type and the dispatch guard.
//
// A kernel comes in two forms with the same bits (the same operations per element, in the same
// order, never fused): an AVX2 form and a plain one. The module must still run on an older
// x86-64 or another processor, so AVX2 code is compiled per function and chosen at run time:
//
//   #if VELK_SIMD_AVX2
//   VELK_AVX2 void scale_avx2(double* p, std::size_t n, double f);  // AVX2 only here
//   #endif
//   void scale_plain(double* p, std::size_t n, double f);
//   ...
//   const auto scale = VELK_SIMD_PICK(scale_avx2, scale_plain);  // once, outside the loops
//
// VELK_SIMD_PICK names the AVX2 form only where it is compiled, so a kernel needs no fallback
// definition elsewhere. Inside an AVX2 form, write either the intrinsics of <immintrin.h>
// (included here on x86) or arithmetic on simd::Vector<4>::type; the two are the same GCC vector
// type and convert freely. A kernel written once on simd::Vector<W>::type and forced inline
// (gnu::always_inline) compiles for both forms: W = 4 in the AVX2 form, W = 2 in the plain
// (SSE2) one. Vectors pass by reference only (no function returns one, so the calling
// convention, which differs between the forms, never matters).
#pragma once

#include <cstddef>

#include "core/cpu_dispatch.hpp"

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#define VELK_SIMD_AVX2 1
#define VELK_AVX2 __attribute__((target("avx2")))
#define VELK_SIMD_PICK(avx2_form, plain_form) \
  (::velk::cpu::avx2_enabled() ? (avx2_form) : (plain_form))
#else
#define VELK_SIMD_AVX2 0
#define VELK_SIMD_PICK(avx2_form, plain_form) (plain_form)
#endif

namespace velk::simd {

// W doubles side by side. The alignment is spelled out: left to the compiler it would differ
// between code compiled for AVX2 and for the baseline.
template <std::size_t W>
struct Vector;
template <>
struct Vector<4> {
  typedef double type __attribute__((vector_size(4 * sizeof(double)), aligned(32)));
};
template <>
struct Vector<2> {
  typedef double type __attribute__((vector_size(2 * sizeof(double)), aligned(16)));
};

}  // namespace velk::simd
