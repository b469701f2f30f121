// The dense solve: shape check, row equilibration, LU factorisation and the two
// substitutions, generic over the right-hand side's vector kind.
#include <cmath>

#include "core/point.hpp"
#include "interp/linear_algebra.hpp"

namespace velk::interp {

namespace {

// Largest absolute row sum and largest absolute column sum; a NaN sum never becomes a maximum.
struct Scale {
  double row_max = 0.0;
  double col_max = 0.0;
};

double abs_row_sum(const std::vector<double>& row) {
  double sum = 0.0;
  for (double a : row) sum += std::fabs(a);
  return sum;
}

Scale measure_scale(const DenseMatrix& matrix) {
  Scale scale;
  std::vector<double> col_sums(matrix.front().size(), 0.0);
  for (const auto& row : matrix) {
    double sum = 0.0;
    for (std::size_t j = 0; j < row.size(); ++j) {
      const double a = std::fabs(row[j]);
      sum += a;
      col_sums[j] += a;
    }
    if (sum > scale.row_max) scale.row_max = sum;
  }
  for (double c : col_sums)
    if (c > scale.col_max) scale.col_max = c;
  return scale;
}

// Rows and right-hand-side values divided by max(row sum, EPS); a NaN sum becomes EPS.
template <class V>
void equilibrate(DenseMatrix& matrix, std::vector<V>& rhs) {
  for (std::size_t i = 0; i < matrix.size(); ++i) {
    double s = abs_row_sum(matrix[i]);
    s = s > EPS ? s : EPS;
    for (double& a : matrix[i]) a = a / s;
    rhs[i] = divided(rhs[i], s);
  }
}

template <class V>
std::expected<std::vector<V>, std::string> substitute(const LuFactors& f,
                                                      const std::vector<V>& rhs) {
  const std::size_t n = f.lu.size();
  // Forward: L has a unit diagonal, so nothing is divided; rhs is read through perm.
  std::vector<V> y;
  y.reserve(n);
  for (std::size_t i = 0; i < n; ++i) {
    V sum = zero_like(rhs[0]);
    for (std::size_t j = 0; j < i; ++j) add_assign(sum, scaled(y[j], f.lu[i][j]));
    y.push_back(subtract(rhs[f.perm[i]], sum));
  }
  // Backward, stopping at the first value (counting down) that holds a NaN.
  std::vector<V> x(n, zero_like(y[0]));
  for (std::size_t i = n; i-- > 0;) {
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
std::expected<std::vector<V>, std::string> solve_linear_system(DenseMatrix&& matrix,
                                                               const std::vector<V>& rhs) {
  if (matrix.empty() || matrix.size() != rhs.size())
    return std::unexpected<std::string>(
        "Design matrix and RHS must be non-empty and the same length.");
  for (const auto& row : matrix)
    if (row.size() != matrix.size())
      return std::unexpected<std::string>("Design matrix must be square.");

  const Scale scale = measure_scale(matrix);
  if (scale.row_max * scale.col_max <= 1e5) {
    auto factors = lu_decompose(std::move(matrix));
    if (!factors) return std::unexpected(std::move(factors.error()));
    return substitute(*factors, rhs);
  }
  std::vector<V> scaled_rhs = rhs;
  equilibrate(matrix, scaled_rhs);
  auto factors = lu_decompose(std::move(matrix));
  if (!factors) return std::unexpected(std::move(factors.error()));
  return substitute(*factors, scaled_rhs);
}

template <class V>
std::expected<std::vector<V>, std::string> solve_linear_system(const DenseMatrix& matrix,
                                                               const std::vector<V>& rhs) {
  if (matrix.empty() || matrix.size() != rhs.size())
    return std::unexpected<std::string>(
        "Design matrix and RHS must be non-empty and the same length.");
  return solve_linear_system(DenseMatrix(matrix), rhs);
}

template std::expected<std::vector<Point3>, std::string> solve_linear_system(
    const DenseMatrix&, const std::vector<Point3>&);
template std::expected<std::vector<VectorN>, std::string> solve_linear_system(
    const DenseMatrix&, const std::vector<VectorN>&);
template std::expected<std::vector<Point3>, std::string> solve_linear_system(
    DenseMatrix&&, const std::vector<Point3>&);
template std::expected<std::vector<VectorN>, std::string> solve_linear_system(
    DenseMatrix&&, const std::vector<VectorN>&);

}  // namespace velk::interp
