// The arithmetic of trivariate Bernstein blending: binomial coefficients, integer powers by
// repeated squaring, the weights of one axis and the blend of lattice displacements.
#pragma once

#include <cstdint>
#include <vector>

#include "core/point.hpp"

namespace velk {

// C(n, k) for k = 0 … n, each the running product over m < k of (n − m) / (k − m) from 1.0.
std::vector<double> binomial_row(uint64_t n);

// x to the power n by repeated squaring: the result starts as x for odd n (1 otherwise), then
// x is squared once per remaining bit and multiplied in where the bit is set. powi(x, 0) = 1.
inline double powi(double x, uint64_t n) {
  double y = (n & 1) ? x : 1.0;
  while (n >>= 1) {
    x = x * x;
    if (n & 1) y = y * x;
  }
  return y;
}

// weights[i] = s^i · ((1 − s)^(n − i) · C(n, i)) for i = 0 … n, n = binomials.size() − 1.
// weights must already hold n + 1 entries.
void bernstein_weights(double s, const std::vector<double>& binomials,
                       std::vector<double>& weights);

// Σ over i (outermost), j, k (innermost) of ((bx[i]·by[j])·bz[k]) · d[(i·ny1 + j)·nz1 + k],
// with ny1 = by.size(), nz1 = bz.size(); each component accumulated from 0.0 in that order.
Point3 bernstein_blend(const std::vector<double>& bx, const std::vector<double>& by,
                       const std::vector<double>& bz, const NodeList& d);

}  // namespace velk
