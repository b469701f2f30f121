// The kept one-at-a-time loops: the kernel matrix row by row, the factorisation in pivot blocks
// with four pivots per pass, and the prediction query by query.
#include "interp/reference_kernels.hpp"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <utility>

#include "core/worker_pool.hpp"
#include "interp/kernel_set.hpp"

namespace velk::interp::reference {

DenseMatrix kernel_matrix(const NodeList& points, RbfKernel kernel, double epsilon) {
  const std::size_t n = points.size();
  const auto phi = kernel_function(kernel);
  DenseMatrix k;
  k.reserve(n);
  for (std::size_t i = 0; i < n; ++i) {
    std::vector<double> row(n);
    for (std::size_t j = 0; j < n; ++j)
      row[j] = phi(clamped_squared_distance(points[i], points[j]), epsilon);
    k.push_back(std::move(row));
  }
  return k;
}

std::expected<NodeList, std::string> predict(const RbfModel& model, const NodeList& queries) {
  NodeList out;
  out.reserve(queries.size());
  const std::size_t n = model.centres.size();
  const auto phi = kernel_function(model.kernel);
  for (const Point3& q : queries) {
    Point3 sum{0.0, 0.0, 0.0};
    for (std::size_t j = 0; j < n; ++j) {
      const double k = phi(clamped_squared_distance(q, model.centres[j]), model.epsilon);
      const Point3& w = model.weights[j];
      sum.x += k * w.x;
      sum.y += k * w.y;
      sum.z += k * w.z;
    }
    if (has_nan(sum)) return std::unexpected<std::string>("NaN values in output");
    out.push_back(sum);
  }
  return out;
}

namespace {

// Pivot columns handled per block.
constexpr std::size_t kBlock = 64;
// The trailing update runs on the worker pool when more than this many rows lie below the
// block's first pivot, and on the calling thread otherwise.
constexpr std::size_t kSerialRows = 100;

// One pivot step restricted to the block's columns: pivot search on column k (strict
// comparison, so ties keep the lowest row and a NaN never displaces the choice), the zero test,
// the row swap (whole rows, as handles), and the elimination of column k from every row below,
// updating the block columns after k only.
std::expected<void, std::string> block_pivot_step(DenseMatrix& lu, std::vector<std::size_t>& perm,
                                                  std::size_t k, std::size_t block_end) {
  const std::size_t n = lu.size();
  std::size_t best = k;
  for (std::size_t j = k + 1; j < n; ++j)
    if (std::fabs(lu[j][k]) > std::fabs(lu[best][k])) best = j;
  if (lu[best][k] == 0.0)
    return std::unexpected("Exact zero pivot encountered at column " + std::to_string(k));
  if (best != k) {
    std::swap(lu[k], lu[best]);
    std::swap(perm[k], perm[best]);
  }
  const double pivot = lu[k][k];
  const std::vector<double>& pivot_row = lu[k];
  for (std::size_t i = k + 1; i < n; ++i) {
    std::vector<double>& row = lu[i];
    const double f = row[k] / pivot;
    row[k] = f;
    for (std::size_t c = k + 1; c < block_end; ++c) row[c] -= f * pivot_row[c];
  }
  return {};
}

// Columns updated together: a tile of the block's pivot rows (kBlock × kTile floats) stays in
// cache while the rows below stream past it.
constexpr std::size_t kTile = 256;

// Applies the block's pivots [k0, last) to the columns [begin, end) of one row, in pivot order.
void apply_pivots(DenseMatrix& lu, std::size_t row_index, std::size_t k0, std::size_t last,
                  std::size_t begin, std::size_t end) {
  double* __restrict a = lu[row_index].data();
  std::size_t k = k0;
  // Four pivots per pass over the columns: each element still takes its four subtractions one
  // after the other in pivot order, but is loaded and stored once.
  for (; k + 4 <= last; k += 4) {
    const double f0 = a[k], f1 = a[k + 1], f2 = a[k + 2], f3 = a[k + 3];
    const double* __restrict u0 = lu[k].data();
    const double* __restrict u1 = lu[k + 1].data();
    const double* __restrict u2 = lu[k + 2].data();
    const double* __restrict u3 = lu[k + 3].data();
    for (std::size_t c = begin; c < end; ++c)
      a[c] = (((a[c] - f0 * u0[c]) - f1 * u1[c]) - f2 * u2[c]) - f3 * u3[c];
  }
  for (; k < last; ++k) {
    const double f = a[k];
    const double* __restrict u = lu[k].data();
    for (std::size_t c = begin; c < end; ++c) a[c] -= f * u[c];
  }
}

// Rows [first, stop) below the block receive all of its pivots [k0, k1) on the columns
// [k1, n), tile by tile. Each row is written only by its own task.
void update_rows_below(DenseMatrix& lu, std::size_t first, std::size_t stop, std::size_t k0,
                       std::size_t k1) {
  const std::size_t n = lu.size();
  for (std::size_t begin = k1; begin < n; begin += kTile) {
    const std::size_t end = std::min(begin + kTile, n);
    for (std::size_t r = first; r < stop; ++r) apply_pivots(lu, r, k0, k1, begin, end);
  }
}

}  // namespace

std::expected<LuFactors, std::string> lu_decompose(RowMatrix matrix) {
  const std::size_t n = matrix.size();
  // The loops below swap rows as vectors; the factors are copied back at the end.
  DenseMatrix lu(n);
  for (std::size_t i = 0; i < n; ++i) lu[i].assign(matrix[i], matrix[i] + n);
  matrix = RowMatrix();
  LuFactors out{RowMatrix(), std::vector<std::size_t>(n)};
  for (std::size_t i = 0; i < n; ++i) out.perm[i] = i;

  // Pivot steps run over columns 0 to n-2; column n-1 is always a trailing column.
  for (std::size_t k0 = 0; k0 + 1 < n; k0 += kBlock) {
    const std::size_t k1 = std::min(k0 + kBlock, n - 1);
    for (std::size_t k = k0; k < k1; ++k) {
      auto step = block_pivot_step(lu, out.perm, k, k1);
      if (!step) return std::unexpected(std::move(step.error()));
    }
    // Rows of the block: each needs the block's pivots above it, in order, and the rows above
    // it must be complete first, so they run in row order.
    for (std::size_t r = k0 + 1; r < k1; ++r) apply_pivots(lu, r, k0, r, k1, n);
    // Rows below the block are independent: each task writes only its own rows.
    const bool parallel = n - k0 - 1 > kSerialRows;
    pool::run_blocks(n - k1, parallel ? 1 : SIZE_MAX, [&](std::size_t begin, std::size_t end) {
      update_rows_below(lu, k1 + begin, k1 + end, k0, k1);
    });
  }
  out.lu = RowMatrix::copy_of(lu);
  return out;
}

}  // namespace velk::interp::reference

namespace velk::interp {

const KernelSet& kernels() {
  static const KernelSet chosen = [] {
    const char* value = std::getenv("VELK_REFERENCE_KERNELS");
    if (value && std::strcmp(value, "1") == 0) {
      return KernelSet{
          [](const NodeList& points, RbfKernel kernel, double epsilon) {
            return RowMatrix::copy_of(reference::kernel_matrix(points, kernel, epsilon));
          },
          reference::lu_decompose, reference::predict};
    }
    return KernelSet{kernel_matrix, lu_decompose, predict};
  }();
  return chosen;
}

}  // namespace velk::interp
