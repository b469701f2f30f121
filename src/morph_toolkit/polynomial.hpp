// The polynomial part of the displacement morph: monomials of degree at most 2 in coordinates
// shifted to the centre of the controls' bounding box and scaled by its half-widths per axis
// (an axis of zero width keeps scale 1), which keeps the fit matrix well scaled.
#pragma once

#include <array>
#include <cmath>

namespace velk::toolkit {

struct PolynomialBasis {
  int degree = -1;
  std::array<double, 3> shift{0, 0, 0}, scale{1, 1, 1};

  // Number of monomials: 0, 1, 4 or 10 for degree -1, 0, 1, 2.
  int terms() const { return degree < 0 ? 0 : (degree == 0 ? 1 : (degree == 1 ? 4 : 10)); }

  // out[0 .. terms()) = 1, u, v, w, u², uv, uw, v², vw, w² (as far as the degree goes), with
  // (u, v, w) = (p - shift) / scale.
  void values(double x, double y, double z, double* out) const {
    if (degree < 0) return;
    out[0] = 1.0;
    if (degree < 1) return;
    const double u = (x - shift[0]) / scale[0], v = (y - shift[1]) / scale[1],
                 w = (z - shift[2]) / scale[2];
    out[1] = u, out[2] = v, out[3] = w;
    if (degree < 2) return;
    out[4] = u * u, out[5] = u * v, out[6] = u * w, out[7] = v * v, out[8] = v * w, out[9] = w * w;
  }

  // acc_k + sum_t coefficients[t][k] · monomial_t(p) for k = 0, 1, 2, the terms fused in turn.
  void add_to(double x, double y, double z, const double* coefficients, double* acc) const {
    double q[10];
    values(x, y, z, q);
    for (int t = 0; t < terms(); ++t)
      for (int k = 0; k < 3; ++k) acc[k] = std::fma(coefficients[3 * t + k], q[t], acc[k]);
  }
};

// The basis of the given degree for the n points (x, y, z interleaved).
PolynomialBasis polynomial_basis(const double* points, std::size_t n, int degree);

}  // namespace velk::toolkit
