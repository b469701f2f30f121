// The displacement morph: argument checks, the fit with its residual check and refinement at
// the controls, evaluation in fixed blocks on the worker pool, and restoring from a state.
#include "morph_toolkit/rbf_morph.hpp"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "core/interrupt.hpp"
#include "core/worker_pool.hpp"
#include "morph_toolkit/errors.hpp"
#include "morph_toolkit/exact_points.hpp"
#include "morph_toolkit/rbf_lanes.hpp"

namespace velk::toolkit {

namespace rbf_morph_detail {

// Query points per block of evaluation work (a multiple of lanes::kGroup).
constexpr std::size_t kPointBlock = 256;
// The fit is refined when a control misses its displacement by more than kRefine of the largest
// displacement component, at most kRefinements times. A miss beyond kSingular after that means
// the system is numerically singular (its weights are then mostly rounding), and the fit is
// refused. (On well-conditioned data the miss is far below 1e-10; a nearly singular one, such as
// the quintic on scattered points, can end between the two, as scipy's fit does.)
constexpr double kRefine = 1e-11;
constexpr int kRefinements = 3;
constexpr double kSingular = 1e-7;
// A monomial column whose part independent of the ones before is below this fraction of its
// norm leaves the polynomial undetermined.
constexpr double kRankTolerance = 1e-9;

// Whether the monomials of the basis are linearly independent on the points (modified
// Gram-Schmidt on the columns, with a relative tolerance).
bool polynomial_determined(const double* points, std::size_t n, const PolynomialBasis& basis) {
  const std::size_t m = basis.terms();
  if (m == 0) return true;
  if (n < m) return false;
  std::vector<double> p(n * m);
  for (std::size_t i = 0; i < n; ++i)
    basis.values(points[3 * i], points[3 * i + 1], points[3 * i + 2], p.data() + m * i);
  for (std::size_t t = 0; t < m; ++t) {
    double original = 0.0;
    for (std::size_t i = 0; i < n; ++i) original += p[m * i + t] * p[m * i + t];
    for (std::size_t u = 0; u < t; ++u) {
      double d = 0.0;
      for (std::size_t i = 0; i < n; ++i) d += p[m * i + u] * p[m * i + t];
      for (std::size_t i = 0; i < n; ++i) p[m * i + t] -= d * p[m * i + u];
    }
    double left = 0.0;
    for (std::size_t i = 0; i < n; ++i) left += p[m * i + t] * p[m * i + t];
    if (!(left > kRankTolerance * kRankTolerance * original) || original == 0.0) return false;
    const double norm = std::sqrt(left);
    for (std::size_t i = 0; i < n; ++i) p[m * i + t] /= norm;
  }
  return true;
}

std::string undetermined_message(int degree, std::size_t n) {
  const std::string need = degree == 1 ? "at least 4 control points, not all in one plane"
                                       : "at least 10 control points, not all on one quadric";
  return "the control points leave the degree-" + std::to_string(degree) +
         " polynomial undetermined: it needs " + need + " (got " + std::to_string(n) +
         " control points)";
}

// "3.2e-06"
std::string relative_text(double v) {
  char text[32];
  std::snprintf(text, sizeof text, "%.1e", v);
  return text;
}

double largest_magnitude(const std::vector<double>& v) {
  double m = 0.0;
  for (double x : v) m = std::max(m, std::fabs(x));
  return m;
}

// Whether a compact kernel's fit matrix over these controls is so full that the dense
// factorisation is the better solve: a sample of controls at a fixed stride counts the controls
// within the support, and more than an eighth of all on average means dense. (Conjugate
// gradients on a nearly full, ill-conditioned matrix can take thousands of iterations.)
bool mostly_full(const CellGrid& grid, const double* c, std::size_t n, double radius) {
  const std::size_t samples = std::min<std::size_t>(n, 256), stride = n / samples;
  const double r2 = radius * radius;
  const std::vector<std::size_t>& order = grid.order();
  std::size_t within = 0;
  std::size_t ranges[18];
  for (std::size_t s = 0; s < samples; ++s) {
    const double* p = c + 3 * (s * stride);
    const std::size_t count = grid.ranges_near(p[0], p[1], p[2], ranges);
    for (std::size_t r = 0; r < count; ++r)
      for (std::size_t k = ranges[2 * r]; k < ranges[2 * r + 1]; ++k) {
        const double* q = c + 3 * order[k];
        const double dx = q[0] - p[0], dy = q[1] - p[1], dz = q[2] - p[2];
        within += dx * dx + dy * dy + dz * dz < r2;
      }
  }
  return within * 8 > samples * n;
}

}  // namespace rbf_morph_detail

PolynomialBasis polynomial_basis(const double* points, std::size_t n, int degree) {
  PolynomialBasis basis;
  basis.degree = degree;
  for (int a = 0; a < 3; ++a) {
    double lo = points[a], hi = points[a];
    for (std::size_t i = 1; i < n; ++i)
      lo = std::min(lo, points[3 * i + a]), hi = std::max(hi, points[3 * i + a]);
    basis.shift[a] = (hi + lo) / 2;
    const double half = (hi - lo) / 2;
    basis.scale[a] = half > 0.0 ? half : 1.0;
  }
  return basis;
}

RbfMorph::RbfMorph(RbfState state) : state_(std::move(state)) {
  basis_.degree = state_.degree;
  basis_.shift = state_.shift;
  basis_.scale = state_.scale;
}

RbfMorph RbfMorph::fit(const double* controls, std::size_t n_controls, const double* displacements,
                       std::size_t n_displacements, Kernel kernel, double epsilon,
                       std::optional<int> degree, std::optional<double> tolerance,
                       const ProgressCallback* progress) {
  ProgressMeter meter(progress, kFitProgressUnits);
  RbfMorph morph = fit_within(controls, n_controls, displacements, n_displacements, kernel, epsilon,
                              degree, tolerance, ProgressSpan(meter));
  meter.finish();
  return morph;
}

RbfMorph RbfMorph::fit_within(const double* controls, std::size_t n_controls,
                              const double* displacements, std::size_t n_displacements,
                              Kernel kernel, double epsilon, std::optional<int> degree,
                              std::optional<double> tolerance, const ProgressSpan& progress) {
  using namespace rbf_morph_detail;
  const std::size_t n = n_controls;
  if (n_displacements != n)
    throw InvalidInput("displacements has " + std::to_string(n_displacements) +
                       " rows but control_points has " + std::to_string(n) +
                       "; they must have the same length");
  if (n == 0) throw InvalidInput("control_points holds no points");
  if (!(epsilon > 0.0) || !std::isfinite(epsilon))
    throw InvalidInput("epsilon must be a positive finite number, got " + std::to_string(epsilon));
  const int d = degree.value_or(default_degree(kernel));
  if (d < -1 || d > 2) throw InvalidInput("degree must be -1, 0, 1 or 2, got " + std::to_string(d));
  if (d < minimum_degree(kernel))
    throw InvalidInput("degree " + std::to_string(d) + " is below the minimum degree " +
                       std::to_string(minimum_degree(kernel)) + " of kernel '" +
                       std::string(kernel_name(kernel)) + "'");
  if (tolerance && !(*tolerance >= 0.0 && std::isfinite(*tolerance)))
    throw InvalidInput("tolerance must be a non-negative finite number, got " +
                       std::to_string(*tolerance));
  bool sparse = is_compact(kernel) && n > kSparseFitMin;
  // The grid of a full fit (a reduced fit builds its own over the centres it selects).
  std::shared_ptr<const CellGrid> grid;
  if (is_compact(kernel) && !tolerance)
    grid = std::make_shared<const CellGrid>(controls, n, 1.0 / epsilon);
  if (sparse && !tolerance && mostly_full(*grid, controls, n, 1.0 / epsilon)) {
    // Dense when it fits in memory; sparse (slow, but possible) when it does not.
    try {
      dense_fit_memory_check(n, monomial_count(d));
      sparse = false;
    } catch (const MemoryRefusal&) {
    }
  }
  if (!sparse && !tolerance) dense_fit_memory_check(n, monomial_count(d));
  // Throws InvalidInput naming the first two coincident controls.
  static_cast<void>(ExactPointIndex(std::span<const double>(controls, 3 * n)));

  RbfState state;
  state.kernel = kernel;
  state.epsilon = epsilon;
  state.degree = d;
  state.centres.assign(controls, controls + 3 * n);
  state.displacements.assign(displacements, displacements + 3 * n);
  const PolynomialBasis basis = polynomial_basis(controls, n, d);
  state.shift = basis.shift;
  state.scale = basis.scale;
  const std::size_t terms = basis.terms();
  if (!polynomial_determined(controls, n, basis)) throw InvalidInput(undetermined_message(d, n));

  if (tolerance) return fit_reduced(std::move(state), basis, *tolerance, progress);
  RbfMorph morph(std::move(state));
  RbfState& s = morph.state_;
  if (is_compact(kernel)) morph.grid_ = std::move(grid);
  // The shares of the progress: building the solver, the first solve, the checks. In units of
  // the dense factorisation's n^3 / 3 multiply-subtracts, its matrix's rows cost about 600 n^2
  // and a check about 200 n^2; the sparse fit's iterative solves (terms columns, then 3) take
  // most of its time.
  const double nd = static_cast<double>(n), td = static_cast<double>(terms);
  const double built = sparse ? 0.1 + 0.8 * td / (td + 3.0) : (1800.0 + nd) / (2400.0 + nd);
  const double first_solved = sparse ? 0.9 : built;
  const ProgressSpan checking = progress.part(first_solved, 1.0);
  const FitProblem problem{kernel, epsilon * epsilon, s.centres, basis};
  auto solver = sparse ? sparse_fit(problem, *morph.grid_, progress.part(0.0, built))
                       : dense_fit(problem, progress.part(0.0, built));
  if (!solver) throw InvalidInput(solver.error());
  morph.solver_ = std::move(*solver);

  s.weights.assign(3 * n, 0.0);
  s.coefficients.assign(3 * terms, 0.0);
  const std::vector<double> no_constraint(3 * terms, 0.0);
  auto solved = morph.solver_->solve(s.displacements.data(), no_constraint.data(), s.weights.data(),
                                     s.coefficients.data(), progress.part(built, first_solved));
  if (!solved) throw InvalidInput(solved.error());
  morph.prepare_evaluation();

  // The residual at the controls as evaluation gives it; refined with the same solves.
  const double scale = largest_magnitude(s.displacements);
  std::vector<double> at(3 * n), residual(3 * n), constraint(3 * terms), dw(3 * n), da(3 * terms);
  double miss = 0.0;
  for (int round = 0;; ++round) {
    interrupt::checkpoint();
    // Each round (at most kRefinements + 1) an equal share: the check, then its correction.
    const ProgressSpan this_round = checking.part(static_cast<double>(round) / (kRefinements + 1),
                                                  (round + 1.0) / (kRefinements + 1));
    morph.displacement(s.centres.data(), n, at.data());
    miss = 0.0;
    for (std::size_t i = 0; i < 3 * n; ++i) {
      residual[i] = s.displacements[i] - at[i];
      miss = std::max(miss, std::fabs(residual[i]));
      if (!std::isfinite(at[i])) miss = INFINITY;
    }
    if (!(miss > kRefine * scale) || round == kRefinements) break;
    // The constraint residual: -P^T w.
    std::fill(constraint.begin(), constraint.end(), 0.0);
    double q[10] = {};
    for (std::size_t i = 0; i < n; ++i) {
      basis.values(s.centres[3 * i], s.centres[3 * i + 1], s.centres[3 * i + 2], q);
      for (std::size_t t = 0; t < terms; ++t)
        for (int k = 0; k < 3; ++k)
          constraint[3 * t + k] = std::fma(-q[t], s.weights[3 * i + k], constraint[3 * t + k]);
    }
    this_round.at(0.1);
    auto corrected = morph.solver_->solve(residual.data(), constraint.data(), dw.data(), da.data(),
                                          this_round.part(0.1, 1.0));
    if (!corrected) throw InvalidInput(corrected.error());
    for (std::size_t i = 0; i < 3 * n; ++i) s.weights[i] += dw[i];
    for (std::size_t i = 0; i < 3 * terms; ++i) s.coefficients[i] += da[i];
    morph.prepare_evaluation();
  }
  if (!(miss <= kSingular * scale))
    throw InvalidInput(
        "the fit's system is singular or too ill-conditioned: the control points would receive "
        "their displacements only to " +
        relative_text(scale > 0 ? miss / scale : miss) + " of the largest");
  progress.at(1.0);
  return morph;
}

RbfMorph RbfMorph::restore(RbfState state) {
  const std::size_t n = state.centres.size() / 3;
  const int d = state.degree;
  const std::size_t k = state.selected.empty() ? n : state.selected.size();
  bool chosen = true;
  for (int64_t c : state.selected) chosen = chosen && c >= 0 && static_cast<std::size_t>(c) < n;
  const bool corrected = !state.correction_weights.empty();
  const bool shaped =
      state.centres.size() == 3 * n && n > 0 && chosen && state.displacements.size() == 3 * n &&
      state.weights.size() == 3 * k &&
      (!corrected || (state.correction_weights.size() == 3 * n && state.correction_epsilon > 0.0 &&
                      std::isfinite(state.correction_epsilon))) &&
      d >= -1 && d <= 2 && d >= minimum_degree(state.kernel) &&
      state.coefficients.size() == 3 * static_cast<std::size_t>(monomial_count(d)) &&
      state.epsilon > 0.0 && std::isfinite(state.epsilon);
  bool finite = true;
  for (const auto* v :
       {&state.centres, &state.weights, &state.coefficients, &state.correction_weights})
    for (double x : *v) finite = finite && std::isfinite(x);
  for (int a = 0; a < 3; ++a)
    finite = finite && std::isfinite(state.shift[a]) && std::isfinite(state.scale[a]) &&
             state.scale[a] != 0.0;
  if (!shaped || !finite) throw InvalidInput("not the state of an RbfMorph");
  RbfMorph morph(std::move(state));
  if (is_compact(morph.state_.kernel) && morph.state_.selected.empty())
    morph.grid_ = std::make_shared<const CellGrid>(morph.state_.centres.data(), n,
                                                   1.0 / morph.state_.epsilon);
  morph.prepare_evaluation();
  if (corrected) morph.correction_ = rbf_morph_detail::correction_morph(morph.state_);
  return morph;
}

void RbfMorph::prepare_evaluation() {
  // A reduced fit evaluates over its selected centres only (with their own grid when compact).
  const bool reduced = !state_.selected.empty();
  const std::size_t n = reduced ? state_.selected.size() : n_controls();
  std::vector<double> chosen;
  if (reduced) {
    chosen.resize(3 * n);
    for (std::size_t k = 0; k < n; ++k)
      std::copy_n(&state_.centres[3 * static_cast<std::size_t>(state_.selected[k])], 3,
                  &chosen[3 * k]);
    if (is_compact(state_.kernel))
      grid_ = std::make_shared<const CellGrid>(chosen.data(), n, 1.0 / state_.epsilon);
  }
  const std::vector<double>& centres = reduced ? chosen : state_.centres;
  cx_.resize(n), cy_.resize(n), cz_.resize(n), w0_.resize(n), w1_.resize(n), w2_.resize(n);
  for (std::size_t k = 0; k < n; ++k) {
    const std::size_t i = grid_ ? grid_->order()[k] : k;
    cx_[k] = centres[3 * i], cy_[k] = centres[3 * i + 1], cz_[k] = centres[3 * i + 2];
    w0_[k] = state_.weights[3 * i], w1_[k] = state_.weights[3 * i + 1],
    w2_[k] = state_.weights[3 * i + 2];
  }
}

void RbfMorph::main_displacement(const double* points, std::size_t m, double* out,
                                 ProgressMeter* meter) const {
  using rbf_morph_detail::kPointBlock;
  const std::size_t n = cx_.size();
  const double e2 = state_.epsilon * state_.epsilon;
  const std::size_t blocks = (m + kPointBlock - 1) / kPointBlock;
  // Parallel when the block's work is worth a task: enough point-centre pairs.
  const bool parallel = m * std::max<std::size_t>(n, 1) >= (std::size_t{1} << 16);
  const std::function<bool()> report = meter ? meter->alongside() : std::function<bool()>{};
  pool::for_each_block(
      blocks, parallel,
      [&](std::size_t b) {
        const std::size_t begin = b * kPointBlock, end = std::min(m, begin + kPointBlock);
        double sums[3 * kPointBlock];
        if (grid_) {
          std::size_t ranges[18];
          for (std::size_t i = begin; i < end; ++i) {
            const double* p = points + 3 * i;
            const std::size_t count = grid_->ranges_near(p[0], p[1], p[2], ranges);
            lanes::compact_sums(state_.kernel, p[0], p[1], p[2], ranges, count, cx_.data(),
                                cy_.data(), cz_.data(), w0_.data(), w1_.data(), w2_.data(), e2,
                                &sums[3 * (i - begin)]);
          }
        } else {
          // The block by coordinate, padded to whole groups with copies of its last point.
          double q[3][kPointBlock] = {}, s[3][kPointBlock];
          const std::size_t count = end - begin;
          const std::size_t padded = (count + lanes::kGroup - 1) / lanes::kGroup * lanes::kGroup;
          for (std::size_t k = 0; k < padded; ++k) {
            const double* p = points + 3 * (begin + std::min(k, count - 1));
            q[0][k] = p[0], q[1][k] = p[1], q[2][k] = p[2];
          }
          lanes::kernel_sums(state_.kernel, q[0], q[1], q[2], padded, cx_.data(), cy_.data(),
                             cz_.data(), w0_.data(), w1_.data(), w2_.data(), n, e2, s[0], s[1],
                             s[2]);
          for (std::size_t k = 0; k < count; ++k)
            sums[3 * k] = s[0][k], sums[3 * k + 1] = s[1][k], sums[3 * k + 2] = s[2][k];
        }
        for (std::size_t i = begin; i < end; ++i) {
          double* acc = &sums[3 * (i - begin)];
          const double* p = points + 3 * i;
          basis_.add_to(p[0], p[1], p[2], state_.coefficients.data(), acc);
          out[3 * i] = acc[0], out[3 * i + 1] = acc[1], out[3 * i + 2] = acc[2];
        }
        if (meter) {
          meter->advance(end - begin);
          meter->report();
        }
      },
      report);
}

void RbfMorph::displacement(const double* points, std::size_t m, double* out,
                            const ProgressCallback* progress) const {
  ProgressMeter meter(progress, correction_ ? 2 * m : m);
  main_displacement(points, m, out, &meter);
  if (correction_) {
    std::vector<double> extra(3 * m);
    correction_->main_displacement(points, m, extra.data(), &meter);
    for (std::size_t i = 0; i < 3 * m; ++i) out[i] = out[i] + extra[i];
  }
  meter.finish();
}

void RbfMorph::deform(const double* points, std::size_t m, double* out,
                      const ProgressCallback* progress) const {
  displacement(points, m, out, progress);
  for (std::size_t i = 0; i < 3 * m; ++i) out[i] = points[i] + out[i];
}

}  // namespace velk::toolkit
