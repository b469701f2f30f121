// Forward and reverse products of the displacement morph.
#include "morph_toolkit/rbf_derivatives.hpp"

#include <memory>
#include <optional>

#include "morph_toolkit/errors.hpp"

namespace velk::toolkit {

namespace {

// Solves A [w; a] = [r; c] with the morph's factors; a morph restored from its state has none,
// so it is fitted again (the same factors: the fit is deterministic).
void solve(const RbfMorph& morph, const double* r, const double* c, double* w, double* a) {
  std::optional<RbfMorph> refit;
  const FitSolver* solver = morph.solver().get();
  if (!solver) {
    const RbfState& s = morph.state();
    refit.emplace(RbfMorph::fit(s.centres.data(), morph.n_controls(), s.displacements.data(),
                                morph.n_controls(), s.kernel, s.epsilon, s.degree));
    solver = refit->solver().get();
  }
  auto solved = solver->solve(r, c, w, a);
  if (!solved) throw InvalidInput(solved.error());
}

PolynomialBasis basis_of(const RbfState& s) {
  PolynomialBasis basis;
  basis.degree = s.degree;
  basis.shift = s.shift;
  basis.scale = s.scale;
  return basis;
}

// The products below are those of a full fit; a reduced one (selected centres and a correction
// stage) would need the products of its selection and correction, which are not built.
void refuse_reduced(const RbfMorph& morph) {
  if (!morph.state().selected.empty())
    throw InvalidInput(
        "jvp and vjp are not available for a morph fitted with a tolerance; fit it without one");
}

}  // namespace

std::vector<double> rbf_jvp(const RbfMorph& morph, const double* points, std::size_t m,
                            const double* tangent) {
  refuse_reduced(morph);
  RbfState s = morph.state();
  const std::size_t n = morph.n_controls();
  s.displacements.assign(tangent, tangent + 3 * n);
  const std::vector<double> no_constraint(s.coefficients.size(), 0.0);
  solve(morph, tangent, no_constraint.data(), s.weights.data(), s.coefficients.data());
  std::vector<double> out(3 * m);
  RbfMorph::restore(std::move(s)).displacement(points, m, out.data());
  return out;
}

std::vector<double> rbf_vjp(const RbfMorph& morph, const double* points, std::size_t m,
                            const double* cotangent) {
  refuse_reduced(morph);
  const RbfState& s = morph.state();
  const std::size_t n = morph.n_controls();
  std::vector<double> r(3 * n, 0.0), c(s.coefficients.size(), 0.0);
  if (m > 0) {
    // Phi(x, c)^T V: at every control, the kernel sum over the points weighted by V (the
    // polynomial part of this swapped morph is zero).
    RbfState swapped = s;
    swapped.centres.assign(points, points + 3 * m);
    swapped.displacements.assign(cotangent, cotangent + 3 * m);
    swapped.weights = swapped.displacements;
    std::fill(swapped.coefficients.begin(), swapped.coefficients.end(), 0.0);
    RbfMorph::restore(std::move(swapped)).displacement(s.centres.data(), n, r.data());
    // P(x)^T V, in point order.
    const PolynomialBasis basis = basis_of(s);
    double q[10];
    for (std::size_t p = 0; p < m; ++p) {
      basis.values(points[3 * p], points[3 * p + 1], points[3 * p + 2], q);
      for (int t = 0; t < basis.terms(); ++t)
        for (int k = 0; k < 3; ++k) c[3 * t + k] += q[t] * cotangent[3 * p + k];
    }
  }
  std::vector<double> g(3 * n), h(c.size());
  solve(morph, r.data(), c.data(), g.data(), h.data());
  return g;
}

}  // namespace velk::toolkit
