// The register tile and the row update of the LU factorisation, AVX2 and plain.
#include "interp/lu_tiles.hpp"

#include <cmath>

namespace velk::interp::lu_tiles {

namespace {

// The multiplier of a row at pivot column k, stored in place of the entry it eliminates.
inline double take_multiplier(double* row, std::size_t k, double pivot) {
  const double m = row[k] / pivot;
  row[k] = m;
  return m;
}

// The running choice of the next pivot row, column k + 1 of the rows offered in order: strict
// comparison, so ties keep the first row and a NaN never displaces the choice. Off when the
// next column is outside the leaf.
struct NextPivot {
  std::size_t best, column;
  bool on;
  double best_abs = 0.0;
  bool any = false;
  void offer(std::size_t i, const double* row) {
    if (!on) return;
    const double a = std::fabs(row[column]);
    if (!any || a > best_abs) best = i, best_abs = a, any = true;
  }
};

}  // namespace

#if VELK_SIMD_AVX2

namespace {

// The 4 × 8 tile held in eight registers while its updates run: row i in ri0 (columns 0 to 3)
// and ri1 (columns 4 to 7).
struct TileRegisters {
  __m256d r00, r01, r10, r11, r20, r21, r30, r31;
};

// The tile's load and store, shared by the unfused and the fused tile. They only move data (no
// arithmetic), so each tile keeps its own operations, and only the fused one may fuse. They ask
// for AVX2 alone and are forced inline with internal linkage: each call becomes part of its
// caller, and no out-of-line copy is shared between the AVX2 tile and the AVX2 + FMA one.
[[gnu::always_inline]] VELK_AVX2 inline void load_tile(double* const* c, TileRegisters& t) {
  static_assert(kRows == 4 && kCols == 8);
  t.r00 = _mm256_loadu_pd(c[0]), t.r01 = _mm256_loadu_pd(c[0] + 4);
  t.r10 = _mm256_loadu_pd(c[1]), t.r11 = _mm256_loadu_pd(c[1] + 4);
  t.r20 = _mm256_loadu_pd(c[2]), t.r21 = _mm256_loadu_pd(c[2] + 4);
  t.r30 = _mm256_loadu_pd(c[3]), t.r31 = _mm256_loadu_pd(c[3] + 4);
}

[[gnu::always_inline]] VELK_AVX2 inline void store_tile(const TileRegisters& t, double* const* c) {
  _mm256_storeu_pd(c[0], t.r00), _mm256_storeu_pd(c[0] + 4, t.r01);
  _mm256_storeu_pd(c[1], t.r10), _mm256_storeu_pd(c[1] + 4, t.r11);
  _mm256_storeu_pd(c[2], t.r20), _mm256_storeu_pd(c[2] + 4, t.r21);
  _mm256_storeu_pd(c[3], t.r30), _mm256_storeu_pd(c[3] + 4, t.r31);
}

}  // namespace

VELK_AVX2 void tile_avx2(std::size_t depth, const double* l, const double* u, double* const* c) {
  TileRegisters t;
  load_tile(c, t);
  for (std::size_t k = 0; k < depth; ++k, l += kRows, u += kCols) {
    const __m256d u0 = _mm256_loadu_pd(u), u1 = _mm256_loadu_pd(u + 4);
    __m256d f = _mm256_broadcast_sd(l);
    t.r00 = _mm256_sub_pd(t.r00, _mm256_mul_pd(f, u0));
    t.r01 = _mm256_sub_pd(t.r01, _mm256_mul_pd(f, u1));
    f = _mm256_broadcast_sd(l + 1);
    t.r10 = _mm256_sub_pd(t.r10, _mm256_mul_pd(f, u0));
    t.r11 = _mm256_sub_pd(t.r11, _mm256_mul_pd(f, u1));
    f = _mm256_broadcast_sd(l + 2);
    t.r20 = _mm256_sub_pd(t.r20, _mm256_mul_pd(f, u0));
    t.r21 = _mm256_sub_pd(t.r21, _mm256_mul_pd(f, u1));
    f = _mm256_broadcast_sd(l + 3);
    t.r30 = _mm256_sub_pd(t.r30, _mm256_mul_pd(f, u0));
    t.r31 = _mm256_sub_pd(t.r31, _mm256_mul_pd(f, u1));
  }
  store_tile(t, c);
}

namespace {

__attribute__((target("avx2,fma"))) void tile_fused_avx2(std::size_t depth, const double* l,
                                                         const double* u, double* const* c) {
  TileRegisters t;
  load_tile(c, t);
  for (std::size_t k = 0; k < depth; ++k, l += kRows, u += kCols) {
    const __m256d u0 = _mm256_loadu_pd(u), u1 = _mm256_loadu_pd(u + 4);
    __m256d f = _mm256_broadcast_sd(l);
    t.r00 = _mm256_fnmadd_pd(f, u0, t.r00), t.r01 = _mm256_fnmadd_pd(f, u1, t.r01);
    f = _mm256_broadcast_sd(l + 1);
    t.r10 = _mm256_fnmadd_pd(f, u0, t.r10), t.r11 = _mm256_fnmadd_pd(f, u1, t.r11);
    f = _mm256_broadcast_sd(l + 2);
    t.r20 = _mm256_fnmadd_pd(f, u0, t.r20), t.r21 = _mm256_fnmadd_pd(f, u1, t.r21);
    f = _mm256_broadcast_sd(l + 3);
    t.r30 = _mm256_fnmadd_pd(f, u0, t.r30), t.r31 = _mm256_fnmadd_pd(f, u1, t.r31);
  }
  store_tile(t, c);
}

}  // namespace

VELK_AVX2 void row_avx2(double* a, const double* l, const double* const* u, std::size_t count,
                        std::size_t begin, std::size_t end) {
  std::size_t c = begin;
  // Thirty-two columns at a time: eight independent chains of subtractions.
  for (; c + 32 <= end; c += 32) {
    __m256d a0 = _mm256_loadu_pd(a + c), a1 = _mm256_loadu_pd(a + c + 4);
    __m256d a2 = _mm256_loadu_pd(a + c + 8), a3 = _mm256_loadu_pd(a + c + 12);
    __m256d a4 = _mm256_loadu_pd(a + c + 16), a5 = _mm256_loadu_pd(a + c + 20);
    __m256d a6 = _mm256_loadu_pd(a + c + 24), a7 = _mm256_loadu_pd(a + c + 28);
    for (std::size_t k = 0; k < count; ++k) {
      const double* v = u[k] + c;
      const __m256d f = _mm256_broadcast_sd(l + k);
      a0 = _mm256_sub_pd(a0, _mm256_mul_pd(f, _mm256_loadu_pd(v)));
      a1 = _mm256_sub_pd(a1, _mm256_mul_pd(f, _mm256_loadu_pd(v + 4)));
      a2 = _mm256_sub_pd(a2, _mm256_mul_pd(f, _mm256_loadu_pd(v + 8)));
      a3 = _mm256_sub_pd(a3, _mm256_mul_pd(f, _mm256_loadu_pd(v + 12)));
      a4 = _mm256_sub_pd(a4, _mm256_mul_pd(f, _mm256_loadu_pd(v + 16)));
      a5 = _mm256_sub_pd(a5, _mm256_mul_pd(f, _mm256_loadu_pd(v + 20)));
      a6 = _mm256_sub_pd(a6, _mm256_mul_pd(f, _mm256_loadu_pd(v + 24)));
      a7 = _mm256_sub_pd(a7, _mm256_mul_pd(f, _mm256_loadu_pd(v + 28)));
    }
    _mm256_storeu_pd(a + c, a0), _mm256_storeu_pd(a + c + 4, a1);
    _mm256_storeu_pd(a + c + 8, a2), _mm256_storeu_pd(a + c + 12, a3);
    _mm256_storeu_pd(a + c + 16, a4), _mm256_storeu_pd(a + c + 20, a5);
    _mm256_storeu_pd(a + c + 24, a6), _mm256_storeu_pd(a + c + 28, a7);
  }
  for (; c + 4 <= end; c += 4) {
    __m256d a0 = _mm256_loadu_pd(a + c);
    for (std::size_t k = 0; k < count; ++k)
      a0 = _mm256_sub_pd(a0, _mm256_mul_pd(_mm256_broadcast_sd(l + k), _mm256_loadu_pd(u[k] + c)));
    _mm256_storeu_pd(a + c, a0);
  }
  for (; c < end; ++c) {
    double v = a[c];
    for (std::size_t k = 0; k < count; ++k) v = v - l[k] * u[k][c];
    a[c] = v;
  }
}

VELK_AVX2 std::size_t eliminate_avx2(double* const* rows, std::size_t first, std::size_t n,
                                     std::size_t k, std::size_t end, const double* pivot_row,
                                     double pivot) {
  NextPivot next{first, k + 1, k + 1 < end};
  for (std::size_t i = first; i < n; ++i) {
    double* row = rows[i];
    const double m = take_multiplier(row, k, pivot);
    const __m256d mv = _mm256_set1_pd(m);
    std::size_t c = k + 1;
    for (; c + 4 <= end; c += 4)
      _mm256_storeu_pd(row + c, _mm256_sub_pd(_mm256_loadu_pd(row + c),
                                              _mm256_mul_pd(mv, _mm256_loadu_pd(pivot_row + c))));
    for (; c < end; ++c) row[c] = row[c] - m * pivot_row[c];
    next.offer(i, row);
  }
  return next.best;
}

#endif

void tile_plain(std::size_t depth, const double* l, const double* u, double* const* c) {
  double t[kRows][kCols];
  for (std::size_t r = 0; r < kRows; ++r)
    for (std::size_t j = 0; j < kCols; ++j) t[r][j] = c[r][j];
  for (std::size_t k = 0; k < depth; ++k, l += kRows, u += kCols)
    for (std::size_t r = 0; r < kRows; ++r)
      for (std::size_t j = 0; j < kCols; ++j) t[r][j] = t[r][j] - l[r] * u[j];
  for (std::size_t r = 0; r < kRows; ++r)
    for (std::size_t j = 0; j < kCols; ++j) c[r][j] = t[r][j];
}

// The fused tile on the processor's FMA instructions when it has them (whatever
// VELK_PLAIN_KERNELS says: both give the same bits, each update rounded once), else std::fma.
void tile_fused(std::size_t depth, const double* l, const double* u, double* const* c) {
#if VELK_SIMD_AVX2
  static const bool fma = __builtin_cpu_supports("avx2") && __builtin_cpu_supports("fma");
  if (fma) return tile_fused_avx2(depth, l, u, c);
#endif
  for (std::size_t k = 0; k < depth; ++k, l += kRows, u += kCols)
    for (std::size_t r = 0; r < kRows; ++r)
      for (std::size_t j = 0; j < kCols; ++j) c[r][j] = std::fma(-l[r], u[j], c[r][j]);
}

void row_plain(double* a, const double* l, const double* const* u, std::size_t count,
               std::size_t begin, std::size_t end) {
  std::size_t k = 0;
  // Four pivots per pass over the columns: each element still takes its subtractions one after
  // the other in pivot order, but is loaded and stored once.
  for (; k + 4 <= count; k += 4) {
    const double f0 = l[k], f1 = l[k + 1], f2 = l[k + 2], f3 = l[k + 3];
    const double* u0 = u[k];
    const double* u1 = u[k + 1];
    const double* u2 = u[k + 2];
    const double* u3 = u[k + 3];
    for (std::size_t c = begin; c < end; ++c)
      a[c] = (((a[c] - f0 * u0[c]) - f1 * u1[c]) - f2 * u2[c]) - f3 * u3[c];
  }
  for (; k < count; ++k) {
    const double f = l[k];
    const double* v = u[k];
    for (std::size_t c = begin; c < end; ++c) a[c] = a[c] - f * v[c];
  }
}

std::size_t eliminate_plain(double* const* rows, std::size_t first, std::size_t n, std::size_t k,
                            std::size_t end, const double* pivot_row, double pivot) {
  NextPivot next{first, k + 1, k + 1 < end};
  for (std::size_t i = first; i < n; ++i) {
    double* row = rows[i];
    const double m = take_multiplier(row, k, pivot);
    for (std::size_t c = k + 1; c < end; ++c) row[c] = row[c] - m * pivot_row[c];
    next.offer(i, row);
  }
  return next.best;
}

}  // namespace velk::interp::lu_tiles
