// LU factorisation (Doolittle, partial pivoting by rows) of a dense square matrix.
#include <cmath>
#include <utility>

#include "core/worker_pool.hpp"
#include "interp/linear_algebra.hpp"

namespace velk::interp {

namespace {

// Below this many rows under the pivot the row updates run on the calling thread.
constexpr std::size_t kParallelRows = 101;

// Eliminates column k from row i: stores the multiplier and updates the rest of the row.
void eliminate_row(DenseMatrix& lu, std::size_t k, std::size_t i, double pivot) {
  std::vector<double>& row = lu[i];
  const std::vector<double>& pivot_row = lu[k];
  const double f = row[k] / pivot;
  row[k] = f;
  for (std::size_t c = k + 1; c < pivot_row.size(); ++c) row[c] -= f * pivot_row[c];
}

}  // namespace

std::expected<LuFactors, std::string> lu_decompose(DenseMatrix matrix) {
  const std::size_t n = matrix.size();
  for (const auto& row : matrix)
    if (row.size() != n) return std::unexpected<std::string>("Design matrix must be square.");
  LuFactors out{std::move(matrix), std::vector<std::size_t>(n)};
  DenseMatrix& lu = out.lu;
  for (std::size_t i = 0; i < n; ++i) out.perm[i] = i;

  for (std::size_t k = 0; k + 1 < n; ++k) {
    // Strict comparison: ties keep the lowest row, and a NaN never displaces the choice.
    std::size_t best = k;
    for (std::size_t j = k + 1; j < n; ++j)
      if (std::fabs(lu[j][k]) > std::fabs(lu[best][k])) best = j;
    if (lu[best][k] == 0.0)
      return std::unexpected("Exact zero pivot encountered at column " + std::to_string(k));
    if (best != k) {
      std::swap(lu[k], lu[best]);
      std::swap(out.perm[k], out.perm[best]);
    }
    const double pivot = lu[k][k];
    const std::size_t below = n - k - 1;
    // Each task reads row k and writes only its own row: the same bits as the serial loop.
    pool::parallel_for(
        below, [&](std::size_t r) { eliminate_row(lu, k, k + 1 + r, pivot); }, kParallelRows);
  }
  return out;
}

}  // namespace velk::interp
