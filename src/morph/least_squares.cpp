// Least squares through the normal equations (aᵀa)·X = aᵀb, solved with VectorN right-hand sides.
#include "morph/least_squares.hpp"

namespace velk::morph {

Result<DenseMatrix> solve_least_squares(const DenseMatrix& a, const DenseMatrix& b) {
  const std::size_t n = a.empty() ? 0 : a.front().size();
  const std::size_t p = b.empty() ? 0 : b.front().size();
  bool fits = b.size() >= a.size();
  for (const auto& row : a) fits = fits && row.size() >= n;
  for (std::size_t k = 0; k < a.size() && fits; ++k) fits = b[k].size() >= p;
  if (!fits) return fail_with(Error::custom("Least-squares rows are too few or too short."));

  DenseMatrix ata(n, std::vector<double>(n, 0.0));
  for (std::size_t i = 0; i < n; ++i)
    for (std::size_t j = 0; j < n; ++j)
      for (const auto& row : a) ata[i][j] += row[i] * row[j];

  std::vector<interp::VectorN> atb(n, interp::VectorN{std::vector<double>(p, 0.0)});
  for (std::size_t i = 0; i < n; ++i)
    for (std::size_t j = 0; j < p; ++j)
      for (std::size_t k = 0; k < a.size(); ++k) atb[i].values[j] += a[k][i] * b[k][j];

  auto solution = interp::solve_linear_system(ata, atb);
  if (!solution) return fail_with(Error::custom(std::move(solution.error())));
  DenseMatrix x;
  x.reserve(n);
  for (auto& v : *solution) x.push_back(std::move(v.values));
  return x;
}

}  // namespace velk::morph
