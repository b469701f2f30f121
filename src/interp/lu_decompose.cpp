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

#include "core/worker_pool.hpp"
#include "interp/dense_solver.hpp"
#include "interp/lu_tiles.hpp"

namespace velk::interp {

namespace {

using lu_tiles::kCols;
using lu_tiles::kRows;

// Pivot columns per panel, i.e. pivots applied per pass of the trailing update.
constexpr std::size_t kPanel = 128;
// Panel columns factorised one pivot at a time.
constexpr std::size_t kLeaf = 16;
// Rows per block of the updates below a panel; a block's packed L stays in the second-level
// cache while the U strips pass through the first.
constexpr std::size_t kRowBlock = 128;
// Updates smaller than this many multiply-subtract pairs run on the calling thread.
constexpr std::size_t kParallelWork = std::size_t{1} << 20;

struct Factoring {
  std::vector<double*>& rows;  // the matrix's row table: swapping two rows swaps addresses
  std::vector<std::size_t>& perm;
  // The kernel forms of this processor, chosen once per factorisation.
  decltype(&lu_tiles::eliminate_plain) eliminate;
  decltype(&lu_tiles::row_plain) row;
  decltype(&lu_tiles::tile_plain) tile;
  // While a panel [panel_begin, panel_end) is factorised beside the previous panel's trailing
  // update, its row swaps exchange only the panel's columns and are recorded here; the whole
  // rows are swapped once the update is done (apply_deferred_swaps).
  bool defer_swaps = false;
  std::size_t panel_begin = 0, panel_end = 0;
  std::vector<std::pair<std::size_t, std::size_t>> swaps;
  // The trailing updates use the fused tile (lu_decompose's `fused`).
  bool fused = false;
};

// Swaps the recorded rows whole (row addresses and permutation) in the recorded order, after
// putting the panel's columns back where the whole-row swaps expect them.
void apply_deferred_swaps(Factoring& f) {
  for (auto it = f.swaps.rbegin(); it != f.swaps.rend(); ++it)
    std::swap_ranges(f.rows[it->first] + f.panel_begin, f.rows[it->first] + f.panel_end,
                     f.rows[it->second] + f.panel_begin);
  for (const auto& [k, best] : f.swaps) {
    std::swap(f.rows[k], f.rows[best]);
    std::swap(f.perm[k], f.perm[best]);
  }
  f.swaps.clear();
  f.defer_swaps = false;
}

// The row in [k, n) whose entry in column k is largest in magnitude (strict comparison, so ties
// keep the lowest row and a NaN never displaces the choice).
std::size_t pivot_row_of(const Factoring& f, std::size_t k) {
  double* const* rows = f.rows.data();
  std::size_t best = k;
  for (std::size_t j = k + 1; j < f.rows.size(); ++j)
    if (std::fabs(rows[j][k]) > std::fabs(rows[best][k])) best = j;
  return best;
}

// One pivot step restricted to the columns before block_end, its pivot row `best` already
// found: the zero test, the row swap (whole rows, as addresses), and the elimination of column
// k from every row below, updating the columns after k only. Returns the pivot row of column
// k + 1, found while eliminating, when that column is before block_end.
std::expected<std::size_t, std::string> pivot_step(Factoring& f, std::size_t k, std::size_t best,
                                                   std::size_t block_end) {
  double* const* rows = f.rows.data();
  if (rows[best][k] == 0.0)
    return std::unexpected("Exact zero pivot encountered at column " + std::to_string(k));
  if (best != k && f.defer_swaps) {
    std::swap_ranges(rows[k] + f.panel_begin, rows[k] + f.panel_end, rows[best] + f.panel_begin);
    f.swaps.emplace_back(k, best);
  } else if (best != k) {
    std::swap(f.rows[k], f.rows[best]);
    std::swap(f.perm[k], f.perm[best]);
  }
  return f.eliminate(rows, k + 1, f.rows.size(), k, block_end, rows[k], rows[k][k]);
}

// Rows (top, last) of a block of pivots [top, last): row r receives the pivots [top, r) on the
// columns [begin, end), rows in order (each uses the finished rows above it as U).
void update_block_rows(const Factoring& f, std::size_t top, std::size_t last, std::size_t begin,
                       std::size_t end) {
  double* const* rows = f.rows.data();
  for (std::size_t r = top + 1; r < last; ++r) {
    f.row(rows[r], rows[r] + top, rows + top, r - top, begin, end);
  }
}

// Packs the pivots [k0, k1) of L for the rows [first, stop) in bands of kRows rows
// (band-major, then pivot, then row), padding a partial last band with zeros.
void pack_l(const Factoring& f, std::size_t first, std::size_t stop, std::size_t k0, std::size_t k1,
            double* out) {
  double* const* rows = f.rows.data();
  const std::size_t depth = k1 - k0;
  for (std::size_t i0 = first; i0 < stop; i0 += kRows, out += depth * kRows)
    for (std::size_t r = 0; r < kRows; ++r) {
      if (i0 + r < stop) {
        const double* src = rows[i0 + r] + k0;
        for (std::size_t k = 0; k < depth; ++k) out[k * kRows + r] = src[k];
      } else {
        for (std::size_t k = 0; k < depth; ++k) out[k * kRows + r] = 0.0;
      }
    }
}

// Packs the rows [k0, k1) of U on the columns [begin, end) in strips of kCols columns
// (strip-major, then pivot, then column), padding a partial last strip with zeros.
void pack_u(const Factoring& f, std::size_t k0, std::size_t k1, std::size_t begin, std::size_t end,
            double* out) {
  double* const* rows = f.rows.data();
  for (std::size_t c0 = begin; c0 < end; c0 += kCols) {
    const std::size_t width = std::min(kCols, end - c0);
    for (std::size_t k = k0; k < k1; ++k, out += kCols) {
      const double* src = rows[k] + c0;
      std::size_t j = 0;
      for (; j < width; ++j) out[j] = src[j];
      for (; j < kCols; ++j) out[j] = 0.0;
    }
  }
}

// Rows [first, stop) receive `depth` pivots on the columns [begin, end), from L packed for
// those rows and U packed for those columns; edge tiles run on a copy padded with zeros.
void apply_packed(const Factoring& f, std::size_t first, std::size_t stop, std::size_t begin,
                  std::size_t end, std::size_t depth, const double* l, const double* u) {
  double* const* rows = f.rows.data();
  const auto tile = f.fused ? lu_tiles::tile_fused : f.tile;
  const std::size_t strips = (end - begin + kCols - 1) / kCols;
  for (std::size_t r0 = first; r0 < stop; r0 += kRowBlock) {
    const std::size_t r1 = std::min(r0 + kRowBlock, stop);
    const std::size_t bands = (r1 - r0 + kRows - 1) / kRows;
    const double* lb = l + (r0 - first) / kRows * depth * kRows;
    for (std::size_t s = 0; s < strips; ++s) {
      const double* us = u + s * depth * kCols;
      const std::size_t c0 = begin + s * kCols, width = std::min(kCols, end - c0);
      for (std::size_t b = 0; b < bands; ++b) {
        const double* ls = lb + b * depth * kRows;
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

std::size_t packed_size(std::size_t count, std::size_t unit, std::size_t depth) {
  return (count + unit - 1) / unit * unit * depth;
}

// Rows [first, n) receive the pivots [k0, k1) on the columns [begin, end) (a few columns: the
// right part of a panel). U is packed once; blocks of rows run on the worker pool.
void update_panel_rows_below(const Factoring& f, std::size_t first, std::size_t k0, std::size_t k1,
                             std::size_t begin, std::size_t end) {
  const std::size_t n = f.rows.size();
  if (first >= n) return;
  const std::size_t depth = k1 - k0;
  std::vector<double> u(packed_size(end - begin, kCols, depth));
  pack_u(f, k0, k1, begin, end, u.data());
  const std::size_t blocks = (n - first + kRowBlock - 1) / kRowBlock;
  const bool parallel = (n - first) * (end - begin) * depth >= kParallelWork;
  // Each task keeps one packed-L buffer (pack_l writes every entry of it) for all its blocks.
  pool::for_each_block(
      blocks, parallel ? SIZE_MAX : 1,
      [&] { return std::vector<double>(packed_size(kRowBlock, kRows, depth)); },
      [&](std::vector<double>& l, std::size_t b) {
        const std::size_t r0 = first + b * kRowBlock, r1 = std::min(r0 + kRowBlock, n);
        pack_l(f, r0, r1, k0, k1, l.data());
        apply_packed(f, r0, r1, begin, end, depth, l.data(), u.data());
      });
}

// Factorises the panel columns [c0, c1) of the rows [c0, n), whose earlier pivots are all
// applied: the left half first, then its pivots applied to the right half, then the right half.
std::expected<void, std::string> factor_panel(Factoring& f, std::size_t c0, std::size_t c1) {
  if (c1 - c0 <= kLeaf) {
    std::size_t best = pivot_row_of(f, c0);
    for (std::size_t k = c0; k < c1; ++k) {
      auto step = pivot_step(f, k, best, c1);
      if (!step) return std::unexpected(std::move(step.error()));
      best = *step;
    }
    return {};
  }
  const std::size_t mid = c0 + std::max(kLeaf, (c1 - c0) / 2 / kLeaf * kLeaf);
  auto left = factor_panel(f, c0, mid);
  if (!left) return left;
  update_block_rows(f, c0, mid, mid, c1);
  update_panel_rows_below(f, mid, c0, mid, mid, c1);
  return factor_panel(f, mid, c1);
}

// Columns per block of the trailing update.
constexpr std::size_t kColumnBlock = 64;

// Packs L of the panel [k0, k1) for every row below it, blocks of rows on the worker pool.
void pack_panel_l(const Factoring& f, std::size_t k0, std::size_t k1, bool parallel,
                  std::vector<double>& l) {
  const std::size_t n = f.rows.size(), depth = k1 - k0;
  l.resize(packed_size(n - k1, kRows, depth));
  const std::size_t row_blocks = (n - k1 + kRowBlock - 1) / kRowBlock;
  pool::for_each_block(row_blocks, parallel, [&](std::size_t b) {
    const std::size_t r0 = k1 + b * kRowBlock;
    pack_l(f, r0, std::min(r0 + kRowBlock, n), k0, k1, l.data() + b * kRowBlock * depth);
  });
}

// The panel's pivots [k0, k1) applied to the columns [begin, end) right of it: the panel rows
// in order, then every row below (from L packed by pack_panel_l).
void update_columns(const Factoring& f, std::size_t k0, std::size_t k1, const double* l,
                    std::size_t begin, std::size_t end) {
  update_block_rows(f, k0, k1, begin, end);
  double u[kColumnBlock * kPanel];
  pack_u(f, k0, k1, begin, end, u);
  apply_packed(f, k1, f.rows.size(), begin, end, k1 - k0, l, u);
}

std::size_t column_blocks(std::size_t begin, std::size_t end) {
  return (end - begin + kColumnBlock - 1) / kColumnBlock;
}

// The columns [begin, end) in independent blocks of kColumnBlock; block 0 is `first` when
// given, which may then run beside the column blocks.
template <class First>
void update_column_blocks(const Factoring& f, std::size_t k0, std::size_t k1, const double* l,
                          std::size_t begin, std::size_t end, bool parallel, First&& first) {
  const std::size_t blocks = column_blocks(begin, end);
  pool::for_each_block(blocks + 1, parallel, [&](std::size_t b) {
    if (b == 0) return first();
    const std::size_t c0 = begin + (b - 1) * kColumnBlock;
    update_columns(f, k0, k1, l, c0, std::min(c0 + kColumnBlock, end));
  });
}

}  // namespace

namespace {

std::expected<LuFactors, std::string> decompose(
    RowMatrix matrix, bool fused, const std::function<void(std::size_t)>& after_panel = {}) {
  const std::size_t n = matrix.size();
  LuFactors out{std::move(matrix), std::vector<std::size_t>(n)};
  for (std::size_t i = 0; i < n; ++i) out.perm[i] = i;
  Factoring f{out.lu.row_table(),
              out.perm,
              VELK_SIMD_PICK(lu_tiles::eliminate_avx2, lu_tiles::eliminate_plain),
              VELK_SIMD_PICK(lu_tiles::row_avx2, lu_tiles::row_plain),
              VELK_SIMD_PICK(lu_tiles::tile_avx2, lu_tiles::tile_plain),
              false,
              0,
              0,
              {}};
  f.fused = fused;
  if (n < 2) return out;

  // Pivot steps run over columns 0 to n-2; column n-1 is always a trailing column. Once a panel
  // [k0, k1) is factorised and its L packed, one pass over the worker pool applies its pivots to
  // the columns right of it, block by block; the first block of that pass applies them to the
  // next panel's columns, factorises the next panel (its row swaps deferred until the pass ends)
  // and packs its L, beside the other blocks. Each element still receives its updates in pivot
  // order, and each panel sees exactly the values it would see without the overlap.
  std::vector<double> packed_l, next_l;  // L of the current and of the next panel
  std::size_t k0 = 0, k1 = std::min(kPanel, n - 1);
  auto panel = factor_panel(f, k0, k1);
  if (!panel) return std::unexpected(std::move(panel.error()));
  pack_panel_l(f, k0, k1, true, packed_l);
  for (;;) {
    const bool parallel = (n - k0) * (n - k1) * (k1 - k0) >= kParallelWork;
    const double* l = packed_l.data();
    if (k1 + 1 >= n) {  // the last panel: only column n-1 remains
      update_column_blocks(f, k0, k1, l, k1, n, parallel, [] {});
      break;
    }
    const std::size_t next = std::min(k1 + kPanel, n - 1);
    f.defer_swaps = true;
    f.panel_begin = k1;
    f.panel_end = next;
    update_column_blocks(f, k0, k1, l, next, n, parallel, [&] {
      for (std::size_t c0 = k1; c0 < next; c0 += kColumnBlock)
        update_columns(f, k0, k1, l, c0, std::min(c0 + kColumnBlock, next));
      panel = factor_panel(f, k1, next);
      // The panel's columns already hold each row's final values (its swaps exchanged them),
      // so its L can be packed before the whole rows are swapped.
      if (panel) pack_panel_l(f, k1, next, false, next_l);
    });
    apply_deferred_swaps(f);
    if (!panel) return std::unexpected(std::move(panel.error()));
    std::swap(packed_l, next_l);
    k0 = k1;
    k1 = next;
    if (after_panel) after_panel(k0);
  }
  if (after_panel) after_panel(n - 1);
  return out;
}

}  // namespace

std::expected<LuFactors, std::string> lu_decompose(RowMatrix matrix) {
  return decompose(std::move(matrix), false);
}

std::expected<LuFactors, std::string> lu_decompose_fused(
    RowMatrix matrix, const std::function<void(std::size_t)>& after_panel) {
  return decompose(std::move(matrix), true, after_panel);
}

}  // namespace velk::interp
