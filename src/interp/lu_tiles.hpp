// The inner loops of the blocked LU factorisation: a register tile of the trailing update and
// the update of one row by the pivots above it. Each comes as an AVX2 version and a plain one
// with the same bits (the AVX2 one only where it is compiled, see core/simd.hpp): every element
// takes a = a - l·u once per pivot, in pivot order, as a multiply followed by a subtraction (never
// fused).
#pragma once

#include <cstddef>

#include "core/simd.hpp"

namespace velk::interp::lu_tiles {

// Rows and columns of the register tile.
constexpr std::size_t kRows = 4;
constexpr std::size_t kCols = 8;

// For r < kRows and j < kCols: c[r][j] = c[r][j] - l[k·kRows + r] · u[k·kCols + j], for
// k = 0, 1, ..., depth - 1 in turn. l and u are packed panels of L and U.
#if VELK_SIMD_AVX2
void tile_avx2(std::size_t depth, const double* l, const double* u, double* const* c);
#endif
void tile_plain(std::size_t depth, const double* l, const double* u, double* const* c);
// The same tile with each update fused, c = c - l·u rounded once (FMA instructions where the
// processor has them, std::fma otherwise, with the same bits): other bits than the unfused
// tiles, for callers not bound to their order.
void tile_fused(std::size_t depth, const double* l, const double* u, double* const* c);

// For c in [begin, end): a[c] = a[c] - l[k] · u[k][c], for k = 0, 1, ..., count - 1 in turn.
#if VELK_SIMD_AVX2
void row_avx2(double* a, const double* l, const double* const* u, std::size_t count,
              std::size_t begin, std::size_t end);
#endif
void row_plain(double* a, const double* l, const double* const* u, std::size_t count,
               std::size_t begin, std::size_t end);

// One pivot's elimination at the leaves of the factorisation. For each row i in [first, n) in
// turn: m = rows[i][k] / pivot, rows[i][k] = m, then rows[i][c] = rows[i][c] - m · pivot_row[c]
// for c in (k, end). Returns the row in [first, n) whose new entry in column k + 1 is largest in
// magnitude (strict comparison from the first row on, so ties keep the lowest row and a NaN
// never displaces the choice) when k + 1 < end, otherwise first.
#if VELK_SIMD_AVX2
std::size_t eliminate_avx2(double* const* rows, std::size_t first, std::size_t n, std::size_t k,
                           std::size_t end, const double* pivot_row, double pivot);
#endif
std::size_t eliminate_plain(double* const* rows, std::size_t first, std::size_t n, std::size_t k,
                            std::size_t end, const double* pivot_row, double pivot);

}  // namespace velk::interp::lu_tiles
