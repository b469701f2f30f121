// The dense solve: shape check, row equilibration, LU factorisation and the two
// substitutions, generic over the right-hand side's vector kind. The scale measurement and the
// equilibration run on the worker pool with the sums of the serial pass.
#include "interp/dense_solver.hpp"

#include <algorithm>
#include <cmath>
#include <cstdint>

#include "core/interrupt.hpp"
#include "core/point.hpp"
#include "core/worker_pool.hpp"
#include "interp/kernel_set.hpp"

namespace velk::interp {

namespace {

// Largest absolute row sum and largest absolute column sum; a NaN sum never becomes a maximum.
struct Scale {
  double row_max = 0.0;
  double col_max = 0.0;
  std::vector<double> row_sums;  // each row's absolute sum, in column order
};

double abs_row_sum(const double* row, std::size_t n) {
  double sum = 0.0;
  for (std::size_t j = 0; j < n; ++j) sum += std::fabs(row[j]);
  return sum;
}

// Columns summed together when the column sums run on the worker pool.
constexpr std::size_t kSumColumns = 256;
// Matrices of fewer rows are measured and equilibrated on the calling thread.
constexpr std::size_t kParallelRows = 256;
// Rows between two interrupt checkpoints in the loops below (a few milliseconds of work even for
// the largest matrices), so that a single-threaded run still answers Ctrl-C promptly.
constexpr std::size_t kRowsPerCheck = 64;

// interrupt::checkpoint() at every kRowsPerCheck-th row.
inline void row_checkpoint(std::size_t row) {
  if (row % kRowsPerCheck == 0) interrupt::checkpoint();
}

// Each row's sum in column order and each column's sum in row order, as in one serial pass;
// rows (for the row sums) and blocks of columns (for the column sums) run on the worker pool.
// A symmetric matrix's column sums are its row sums (the same doubles in the same order), so
// they are not summed again. The maxima are then taken in index order.
Scale measure_scale(const RowMatrix& matrix, bool symmetric) {
  const std::size_t n = matrix.size(), width = n;
  const std::size_t min_parallel = n >= kParallelRows ? 2 : SIZE_MAX;
  Scale scale;
  scale.row_sums.resize(n);
  pool::run_blocks(n, min_parallel, [&](std::size_t begin, std::size_t end) {
    for (std::size_t i = begin; i < end; ++i) {
      row_checkpoint(i);
      scale.row_sums[i] = abs_row_sum(matrix[i], n);
    }
  });
  std::vector<double> col_sums;
  if (symmetric) {
    col_sums = scale.row_sums;
  } else {
    col_sums.assign(width, 0.0);
    const std::size_t blocks = (width + kSumColumns - 1) / kSumColumns;
    pool::run_blocks(blocks, min_parallel, [&](std::size_t b0, std::size_t b1) {
      const std::size_t c0 = b0 * kSumColumns, c1 = std::min(b1 * kSumColumns, width);
      double* sums = col_sums.data();
      for (std::size_t i = 0; i < n; ++i) {
        row_checkpoint(i);
        for (std::size_t j = c0; j < c1; ++j) sums[j] += std::fabs(matrix[i][j]);
      }
    });
  }
  for (double r : scale.row_sums)
    if (r > scale.row_max) scale.row_max = r;
  for (double c : col_sums)
    if (c > scale.col_max) scale.col_max = c;
  return scale;
}

// Rows and right-hand-side values divided by max(row sum, EPS); a NaN sum becomes EPS. Rows are
// independent and run on the worker pool.
template <class V>
void equilibrate(RowMatrix& matrix, std::vector<V>& rhs, const std::vector<double>& row_sums) {
  const std::size_t n = matrix.size();
  pool::run_blocks(n, n >= kParallelRows ? 2 : SIZE_MAX, [&](std::size_t begin, std::size_t end) {
    for (std::size_t i = begin; i < end; ++i) {
      row_checkpoint(i);
      double s = row_sums[i];
      s = s > EPS ? s : EPS;
      double* row = matrix[i];
      for (std::size_t j = 0; j < n; ++j) row[j] = row[j] / s;
      rhs[i] = divided(rhs[i], s);
    }
  });
}

template <class V>
std::expected<std::vector<V>, std::string> substitute(const LuFactors& f,
                                                      const std::vector<V>& rhs) {
  const std::size_t n = f.lu.size();
  // Forward: L has a unit diagonal, so nothing is divided; rhs is read through perm.
  std::vector<V> y;
  y.reserve(n);
  for (std::size_t i = 0; i < n; ++i) {
    row_checkpoint(i);
    V sum = zero_like(rhs[0]);
    for (std::size_t j = 0; j < i; ++j) add_assign(sum, scaled(y[j], f.lu[i][j]));
    y.push_back(subtract(rhs[f.perm[i]], sum));
  }
  // Backward, stopping at the first value (counting down) that holds a NaN.
  std::vector<V> x(n, zero_like(y[0]));
  for (std::size_t i = n; i-- > 0;) {
    row_checkpoint(i);
    V sum = zero_like(y[0]);
    for (std::size_t j = i + 1; j < n; ++j) add_assign(sum, scaled(x[j], f.lu[i][j]));
    x[i] = divided(subtract(y[i], sum), f.lu[i][i]);
    if (has_nan(x[i]))
      return std::unexpected("NaN detected in backward substitution at index " + std::to_string(i));
  }
  return x;
}

}  // namespace

template <class V>
std::expected<std::vector<V>, std::string> solve_linear_system(RowMatrix&& matrix,
                                                               const std::vector<V>& rhs,
                                                               bool symmetric) {
  if (matrix.size() == 0 || matrix.size() != rhs.size())
    return std::unexpected<std::string>(
        "Design matrix and RHS must be non-empty and the same length.");

  const Scale scale = measure_scale(matrix, symmetric);
  if (scale.row_max * scale.col_max <= 1e5) {
    auto factors = kernels().lu_decompose(std::move(matrix));
    if (!factors) return std::unexpected(std::move(factors.error()));
    return substitute(*factors, rhs);
  }
  std::vector<V> scaled_rhs = rhs;
  equilibrate(matrix, scaled_rhs, scale.row_sums);
  auto factors = kernels().lu_decompose(std::move(matrix));
  if (!factors) return std::unexpected(std::move(factors.error()));
  return substitute(*factors, scaled_rhs);
}

template <class V>
std::expected<std::vector<V>, std::string> solve_linear_system(const DenseMatrix& matrix,
                                                               const std::vector<V>& rhs) {
  if (matrix.empty() || matrix.size() != rhs.size())
    return std::unexpected<std::string>(
        "Design matrix and RHS must be non-empty and the same length.");
  for (const auto& row : matrix)
    if (row.size() != matrix.size())
      return std::unexpected<std::string>("Design matrix must be square.");
  return solve_linear_system(RowMatrix::copy_of(matrix), rhs, false);
}

template std::expected<std::vector<Point3>, std::string> solve_linear_system(
    const DenseMatrix&, const std::vector<Point3>&);
template std::expected<std::vector<VectorN>, std::string> solve_linear_system(
    const DenseMatrix&, const std::vector<VectorN>&);
template std::expected<std::vector<Point3>, std::string> solve_linear_system(
    RowMatrix&&, const std::vector<Point3>&, bool);
template std::expected<std::vector<VectorN>, std::string> solve_linear_system(
    RowMatrix&&, const std::vector<VectorN>&, bool);

}  // namespace velk::interp
