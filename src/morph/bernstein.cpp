// Binomial rows.
#include "morph/bernstein.hpp"

namespace velk::morph {

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

}  // namespace velk::morph
