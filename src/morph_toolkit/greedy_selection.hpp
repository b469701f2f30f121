// Greedy selection of RBF centres among many control points (f-greedy on a Newton basis), for
// a fit with far fewer centres than controls. The caller gives the radial kernel; the result is
// an ordinary kernel expansion over the selected centres plus a polynomial, and the error left
// at every control point (for a correction stage that interpolates it).
//
// With a polynomial of degree m, the kernel is first reduced against m's polynomials on a
// unisolvent set Xi (chosen among the controls first): with Lagrange polynomials l_i on Xi,
//   K(x, y) = phi(x, y) - sum_i l_i(x) phi(xi_i, y) - sum_i l_i(y) phi(x, xi_i)
//             + sum_ij l_i(x) l_j(y) phi(xi_i, xi_j) + sum_i l_i(x) l_i(y)
// is positive definite, and interpolating with K on a set containing Xi gives the interpolant
// with polynomial of phi on that set. The Newton basis of K (Gram-Schmidt of K's columns in the
// native space, i.e. a Cholesky factorisation grown one centre at a time) makes each added
// centre an update of O(N k) for k centres, O(N k^2) in all, with no refactorisation.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <span>
#include <vector>

#include "morph_toolkit/polynomial.hpp"

namespace velk::toolkit {

// out[i] = phi(epsilon |controls[first + i] - p|) for i in [0, last - first). Called from the
// worker pool's threads at once: it must only read shared data.
using KernelColumn =
    std::function<void(const double* p, std::size_t first, std::size_t last, double* out)>;

struct GreedyInput {
  std::span<const double> controls;       // (N, 3), distinct and finite
  std::span<const double> displacements;  // (N, 3)
  KernelColumn kernel;
  PolynomialBasis basis;  // the polynomial (degree -1: none) and its scaled coordinates
  // Selection stops once max_i |s(c_i) - d_i| <= tolerance * max_i |d_i| (0: every control
  // that the factorisation can take).
  double tolerance = 0.0;
  // The Newton basis holds N values per centre: at most this many bytes (MemoryRefusal when
  // even the polynomial's points do not fit; the selection stops at the limit otherwise).
  std::size_t memory_limit = std::size_t{1} << 30;
  // When given, called on the calling thread after each added centre with an estimate of how far
  // the selection is, in [0, 1] (its work so far against its work to the count of centres that
  // the residual's recent fall predicts, at most the memory limit's).
  std::function<void(double fraction)> progress;
};

struct GreedyFit {
  // Indices into the controls, in selection order (the polynomial's points first).
  std::vector<int64_t> centres;
  // s(x) = sum_j weights[j] phi(epsilon |x - controls[centres[j]]|) + sum_t coefficients[t]
  // m_t(x), weights (k, 3), coefficients (terms, 3) of the basis's monomials m_t.
  std::vector<double> weights, coefficients;
  // The largest |s(c_i) - d_i| as the selection's running residual has it (the caller
  // evaluates the expansion for the exact figure).
  double max_error = 0.0;
  bool stopped_early = false;  // the memory limit, or no control left that the basis takes
};

// Throws InvalidInput when the controls leave the polynomial undetermined.
GreedyFit greedy_fit(const GreedyInput& input);

}  // namespace velk::toolkit
