// LU factorisation (Doolittle, partial pivoting by rows) of a dense square matrix by right-looking
// blocked elimination. A panel of pivot columns is factorised (recursively halved, one pivot at a
// time at the leaves), then the rows of the panel and the trailing matrix receive the panel's
// pivots through register tiles, on the worker pool. Every element still receives its updates
// a = a - l·u one by one in increasing pivot order, and every multiplier and pivot choice is
// made from the same values, so the bits are those of the one-pivot-at-a-time loop.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <utility>

#include "core/cpu_dispatch.hpp"
#include "core/worker_pool.hpp"
#include "interp/linear_algebra.hpp"
#include "interp/lu_tiles.hpp"
#include "interp/reference_kernels.hpp"

namespace velk::interp {

namespace {

using lu_tiles::kCols;
using lu_tiles::kRows;

// Pivot columns per panel, i.e. pivots applied per pass of the trailing update.
#ifndef PANEL
#define PANEL 128
#endif
constexpr std::size_t kPanel = PANEL;
// Panel columns factorised one pivot at a time.
constexpr std::size_t kLeaf = 16;
// Rows of L packed together; the packed block stays in the second-level cache while the U
// strips pass through the first.
#ifndef ROWBLOCK
#define ROWBLOCK 128
#endif
constexpr std::size_t kRowBlock = ROWBLOCK;
// Updates smaller than this many multiply-subtract pairs run on the calling thread.
constexpr std::size_t kParallelWork = std::size_t{1} << 20;

struct Factoring {
  DenseMatrix& lu;
  std::vector<std::size_t>& perm;
  std::vector<double*> rows;  // rows[i] == lu[i].data(), swapped with the rows
  bool avx2;
};

// One pivot step restricted to the columns before block_end: pivot search on column k (strict
// comparison, so ties keep the lowest row and a NaN never displaces the choice), the zero test,
// the row swap (whole rows, as handles), and the elimination of column k from every row below,
// updating the columns after k only.
std::expected<void, std::string> pivot_step(Factoring& f, std::size_t k, std::size_t block_end) {
  const std::size_t n = f.rows.size();
  double* const* rows = f.rows.data();
  std::size_t best = k;
  for (std::size_t j = k + 1; j < n; ++j)
    if (std::fabs(rows[j][k]) > std::fabs(rows[best][k])) best = j;
  if (rows[best][k] == 0.0)
    return std::unexpected("Exact zero pivot encountered at column " + std::to_string(k));
  if (best != k) {
    std::swap(f.lu[k], f.lu[best]);
    std::swap(f.rows[k], f.rows[best]);
    std::swap(f.perm[k], f.perm[best]);
  }
  const double pivot = rows[k][k];
  const double* pivot_row = rows[k];
  for (std::size_t i = k + 1; i < n; ++i) {
    double* row = rows[i];
    const double m = row[k] / pivot;
    row[k] = m;
    for (std::size_t c = k + 1; c < block_end; ++c) row[c] = row[c] - m * pivot_row[c];
  }
  return {};
}

// Rows (top, last) of a block of pivots [top, last): row r receives the pivots [top, r) on the
// columns [begin, end), rows in order (each uses the finished rows above it as U).
void update_block_rows(const Factoring& f, std::size_t top, std::size_t last, std::size_t begin,
                       std::size_t end) {
  double* const* rows = f.rows.data();
  for (std::size_t r = top + 1; r < last; ++r) {
    if (f.avx2)
      lu_tiles::row_avx2(rows[r], rows[r] + top, rows + top, r - top, begin, end);
    else
      lu_tiles::row_plain(rows[r], rows[r] + top, rows + top, r - top, begin, end);
  }
}

// Rows [first, stop) receive the pivots [k0, k1) on the columns [begin, end): the rows of those
// pivots must already be final on these columns. U is packed in strips of kCols columns and L
// in bands of kRows rows; edge tiles run on a copy padded with zeros.
void update_rows_below(const Factoring& f, std::size_t first, std::size_t stop, std::size_t k0,
                       std::size_t k1, std::size_t begin, std::size_t end) {
  if (first >= stop || begin >= end || k0 >= k1) return;
  double* const* rows = f.rows.data();
  const std::size_t depth = k1 - k0;
  const std::size_t strips = (end - begin + kCols - 1) / kCols;
  std::vector<double> u(strips * depth * kCols);
  for (std::size_t s = 0; s < strips; ++s) {
    double* out = u.data() + s * depth * kCols;
    const std::size_t c0 = begin + s * kCols, width = std::min(kCols, end - c0);
    for (std::size_t k = 0; k < depth; ++k, out += kCols) {
      const double* src = rows[k0 + k] + c0;
      std::size_t j = 0;
      for (; j < width; ++j) out[j] = src[j];
      for (; j < kCols; ++j) out[j] = 0.0;
    }
  }
  const auto tile = f.avx2 ? lu_tiles::tile_avx2 : lu_tiles::tile_plain;
  std::vector<double> l(((kRowBlock + kRows - 1) / kRows) * kRows * depth);
  for (std::size_t r0 = first; r0 < stop; r0 += kRowBlock) {
    const std::size_t r1 = std::min(r0 + kRowBlock, stop);
    const std::size_t bands = (r1 - r0 + kRows - 1) / kRows;
    for (std::size_t b = 0; b < bands; ++b) {
      double* out = l.data() + b * depth * kRows;
      for (std::size_t r = 0; r < kRows; ++r) {
        const std::size_t i = r0 + b * kRows + r;
        if (i < r1) {
          const double* src = rows[i] + k0;
          for (std::size_t k = 0; k < depth; ++k) out[k * kRows + r] = src[k];
        } else {
          for (std::size_t k = 0; k < depth; ++k) out[k * kRows + r] = 0.0;
        }
      }
    }
    for (std::size_t s = 0; s < strips; ++s) {
      const double* us = u.data() + s * depth * kCols;
      const std::size_t c0 = begin + s * kCols, width = std::min(kCols, end - c0);
      for (std::size_t b = 0; b < bands; ++b) {
        const double* ls = l.data() + b * depth * kRows;
        const std::size_t i0 = r0 + b * kRows, height = std::min(kRows, r1 - i0);
        if (width == kCols && height == kRows) {
          double* c[kRows];
          for (std::size_t r = 0; r < kRows; ++r) c[r] = rows[i0 + r] + c0;
          // The next tile's rows are fetched while this one computes.
          for (std::size_t i = i0 + kRows; i < std::min(i0 + 2 * kRows, r1); ++i) {
            __builtin_prefetch(rows[i] + c0, 1);
            __builtin_prefetch(rows[i] + c0 + kCols - 1, 1);
          }
          tile(depth, ls, us, c);
          continue;
        }
        double pad[kRows][kCols] = {};
        double* c[kRows];
        for (std::size_t r = 0; r < kRows; ++r) {
          c[r] = pad[r];
          if (r < height)
            for (std::size_t j = 0; j < width; ++j) pad[r][j] = rows[i0 + r][c0 + j];
        }
        tile(depth, ls, us, c);
        for (std::size_t r = 0; r < height; ++r)
          for (std::size_t j = 0; j < width; ++j) rows[i0 + r][c0 + j] = pad[r][j];
      }
    }
  }
}

// Rows [first, n) receive the pivots [k0, k1) on the columns [begin, end), split by bands of
// rows over the worker pool when the work is large.
void update_rows_below_parallel(const Factoring& f, std::size_t first, std::size_t k0,
                                std::size_t k1, std::size_t begin, std::size_t end) {
  const std::size_t n = f.rows.size();
  if (first >= n) return;
  const std::size_t bands = (n - first + kRows - 1) / kRows;
  const bool parallel = (n - first) * (end - begin) * (k1 - k0) >= kParallelWork;
  pool::run_blocks(bands, parallel ? 2 : SIZE_MAX, [&](std::size_t b0, std::size_t b1) {
    update_rows_below(f, first + b0 * kRows, std::min(first + b1 * kRows, n), k0, k1, begin, end);
  });
}

// Factorises the panel columns [c0, c1) of the rows [c0, n), whose earlier pivots are all
// applied: the left half first, then its pivots applied to the right half, then the right half.
std::expected<void, std::string> factor_panel(Factoring& f, std::size_t c0, std::size_t c1) {
  if (c1 - c0 <= kLeaf) {
    for (std::size_t k = c0; k < c1; ++k) {
      auto step = pivot_step(f, k, c1);
      if (!step) return step;
    }
    return {};
  }
  const std::size_t mid = c0 + std::max(kLeaf, (c1 - c0) / 2 / kLeaf * kLeaf);
  auto left = factor_panel(f, c0, mid);
  if (!left) return left;
  update_block_rows(f, c0, mid, mid, c1);
  update_rows_below_parallel(f, mid, c0, mid, mid, c1);
  return factor_panel(f, mid, c1);
}

// The panel's pivots [k0, k1) applied to the trailing columns [k1, n): the panel rows in order,
// then every row below. Columns are independent, so strips of columns run on the worker pool,
// each task finishing its columns of the panel rows before packing them as U.
void update_trailing(const Factoring& f, std::size_t k0, std::size_t k1) {
  const std::size_t n = f.rows.size();
  const std::size_t strips = (n - k1 + kCols - 1) / kCols;
  const bool parallel = (n - k0) * (n - k1) * (k1 - k0) >= kParallelWork;
  pool::run_blocks(strips, parallel ? 2 : SIZE_MAX, [&](std::size_t s0, std::size_t s1) {
    const std::size_t begin = k1 + s0 * kCols, end = std::min(k1 + s1 * kCols, n);
    update_block_rows(f, k0, k1, begin, end);
    update_rows_below(f, k1, n, k0, k1, begin, end);
  });
}

}  // namespace

std::expected<LuFactors, std::string> lu_decompose(DenseMatrix matrix) {
  if (reference::enabled()) return reference::lu_decompose(std::move(matrix));
  const std::size_t n = matrix.size();
  for (const auto& row : matrix)
    if (row.size() != n) return std::unexpected<std::string>("Design matrix must be square.");
  LuFactors out{std::move(matrix), std::vector<std::size_t>(n)};
  for (std::size_t i = 0; i < n; ++i) out.perm[i] = i;
  Factoring f{out.lu, out.perm, std::vector<double*>(n), cpu::avx2_enabled()};
  for (std::size_t i = 0; i < n; ++i) f.rows[i] = out.lu[i].data();

  // Pivot steps run over columns 0 to n-2; column n-1 is always a trailing column. Each pass
  // factorises one panel and then updates everything to its right and below.
  for (std::size_t k0 = 0; k0 + 1 < n; k0 += kPanel) {
    const std::size_t k1 = std::min(k0 + kPanel, n - 1);
    auto panel = factor_panel(f, k0, k1);
    if (!panel) return std::unexpected(std::move(panel.error()));
    update_trailing(f, k0, k1);
  }
  return out;
}

}  // namespace velk::interp
