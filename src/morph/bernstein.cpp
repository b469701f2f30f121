// Binomial rows, Bernstein weights and the lattice blend.
#include "morph/bernstein.hpp"

namespace velk {

std::vector<double> binomial_row(uint64_t n) {
  std::vector<double> row(n + 1);
  for (uint64_t k = 0; k <= n; ++k) {
    double c = 1.0;
    for (uint64_t m = 0; m < k; ++m)
      c = c * (static_cast<double>(n - m) / static_cast<double>(k - m));
    row[k] = c;
  }
  return row;
}

void bernstein_weights(double s, const std::vector<double>& binomials,
                       std::vector<double>& weights) {
  const uint64_t n = binomials.size() - 1;
  const double rest = 1.0 - s;
  for (uint64_t i = 0; i <= n; ++i) weights[i] = powi(s, i) * (powi(rest, n - i) * binomials[i]);
}

Point3 bernstein_blend(const std::vector<double>& bx, const std::vector<double>& by,
                       const std::vector<double>& bz, const NodeList& d) {
  const std::size_t nx1 = bx.size(), ny1 = by.size(), nz1 = bz.size();
  double sx = 0.0, sy = 0.0, sz = 0.0;
  const Point3* node = d.data();
  for (std::size_t i = 0; i < nx1; ++i) {
    for (std::size_t j = 0; j < ny1; ++j) {
      const double wij = bx[i] * by[j];
      for (std::size_t k = 0; k < nz1; ++k, ++node) {
        const double w = wij * bz[k];
        sx += w * node->x;
        sy += w * node->y;
        sz += w * node->z;
      }
    }
  }
  return {sx, sy, sz};
}

}  // namespace velk
