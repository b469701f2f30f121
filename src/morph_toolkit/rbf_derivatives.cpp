// Forward and reverse products of the displacement morph.
#include "morph_toolkit/rbf_derivatives.hpp"

#include <memory>
#include <optional>

#include "morph_toolkit/errors.hpp"

namespace velk::toolkit {

namespace {

// Solves A [w; a] = [r; c] with the morph's factors (with the transpose of their operator when
// transposed, for the reverse products); a morph restored from its state has none, so it is
// fitted again (the same factors: the fit is deterministic).
void solve(const RbfMorph& morph, const double* r, const double* c, double* w, double* a,
           bool transposed = false) {
  std::optional<RbfMorph> refit;
  const FitSolver* solver = morph.solver().get();
  if (!solver) {
    const RbfState& s = morph.state();
    refit.emplace(RbfMorph::fit(s.centres.data(), morph.n_controls(), s.displacements.data(),
                                morph.n_controls(), s.kernel, s.epsilon, s.degree));
    solver = refit->solver().get();
  }
  auto solved = transposed ? solver->solve_transposed(r, c, w, a) : solver->solve(r, c, w, a);
  if (!solved) throw InvalidInput(solved.error());
}

PolynomialBasis basis_of(const RbfState& s) {
  PolynomialBasis basis;
  basis.degree = s.degree;
  basis.shift = s.shift;
  basis.scale = s.scale;
  return basis;
}

// The morph of a full fit's solves applied to `tangent` (N × 3) instead of its displacements:
// its displacement at any points is the forward product there.
RbfMorph tangent_morph(const RbfMorph& morph, const double* tangent) {
  RbfState s = morph.state();
  s.displacements.assign(tangent, tangent + 3 * morph.n_controls());
  const std::vector<double> no_constraint(s.coefficients.size(), 0.0);
  solve(morph, tangent, no_constraint.data(), s.weights.data(), s.coefficients.data());
  return RbfMorph::restore(std::move(s));
}

// A reduced morph is linear in the displacements d with its selection S held fixed:
//   s(x) = s_S(x; d_S) + c(x; d - s_S(C; d_S)),
// s_S the interpolant of the selected centres (what the greedy selection builds, here fitted
// directly on S) and c the correction, a full fit at every control C. Its products chain those
// of the two full fits.
RbfMorph selection_fit(const RbfMorph& morph) {
  const RbfState& s = morph.state();
  std::vector<double> centres, values;
  for (int64_t i : s.selected) {
    centres.insert(centres.end(), &s.centres[3 * i], &s.centres[3 * i] + 3);
    values.insert(values.end(), &s.displacements[3 * i], &s.displacements[3 * i] + 3);
  }
  const std::size_t k = s.selected.size();
  return RbfMorph::fit(centres.data(), k, values.data(), k, s.kernel, s.epsilon, s.degree);
}

bool reduced(const RbfMorph& morph) {
  return !morph.state().selected.empty();
}

std::vector<double> reduced_jvp(const RbfMorph& morph, const double* points, std::size_t m,
                                const double* tangent) {
  const RbfState& s = morph.state();
  const std::size_t n = morph.n_controls();
  std::vector<double> tangent_s;
  for (int64_t i : s.selected)
    tangent_s.insert(tangent_s.end(), tangent + 3 * i, tangent + 3 * i + 3);
  // The selection's forward product, solved once and evaluated at the points and the controls.
  const RbfMorph forward = tangent_morph(selection_fit(morph), tangent_s.data());
  std::vector<double> out(3 * m);
  forward.displacement(points, m, out.data());
  if (!morph.correction()) return out;
  std::vector<double> residual(3 * n);
  forward.displacement(s.centres.data(), n, residual.data());
  for (std::size_t j = 0; j < 3 * n; ++j) residual[j] = tangent[j] - residual[j];
  const std::vector<double> corrected = rbf_jvp(*morph.correction(), points, m, residual.data());
  for (std::size_t j = 0; j < 3 * m; ++j) out[j] = out[j] + corrected[j];
  return out;
}

std::vector<double> reduced_vjp(const RbfMorph& morph, const double* points, std::size_t m,
                                const double* cotangent) {
  const RbfState& s = morph.state();
  const std::size_t n = morph.n_controls();
  const RbfMorph selection = selection_fit(morph);
  std::vector<double> through_s = rbf_vjp(selection, points, m, cotangent);
  std::vector<double> out(3 * n, 0.0);
  if (morph.correction()) {
    out = rbf_vjp(*morph.correction(), points, m, cotangent);
    const std::vector<double> back = rbf_vjp(selection, s.centres.data(), n, out.data());
    for (std::size_t j = 0; j < through_s.size(); ++j) through_s[j] = through_s[j] - back[j];
  }
  for (std::size_t r = 0; r < s.selected.size(); ++r)
    for (int a = 0; a < 3; ++a) out[3 * s.selected[r] + a] += through_s[3 * r + a];
  return out;
}

}  // namespace

std::vector<double> rbf_jvp(const RbfMorph& morph, const double* points, std::size_t m,
                            const double* tangent) {
  if (reduced(morph)) return reduced_jvp(morph, points, m, tangent);
  std::vector<double> out(3 * m);
  tangent_morph(morph, tangent).displacement(points, m, out.data());
  return out;
}

std::vector<double> rbf_vjp(const RbfMorph& morph, const double* points, std::size_t m,
                            const double* cotangent) {
  if (reduced(morph)) return reduced_vjp(morph, points, m, cotangent);
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
  solve(morph, r.data(), c.data(), g.data(), h.data(), true);
  return g;
}

}  // namespace velk::toolkit
