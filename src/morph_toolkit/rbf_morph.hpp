// The displacement morph: radial basis interpolation of prescribed displacements at control
// points, plus a polynomial of degree at most 2,
//     s(x) = sum_j w_j phi(epsilon |x - c_j|) + p(x),   s(c_i) = d_i,   sum_j w_j q(c_j) = 0,
// and a point x moves to x + s(x). Global kernels fit dense (blocked LU); compact kernels with
// many controls fit sparse. Evaluation runs in fixed blocks of points on the worker pool, so the
// bits are the same at any thread count.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <expected>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "morph_toolkit/cell_grid.hpp"
#include "morph_toolkit/polynomial.hpp"
#include "morph_toolkit/progress.hpp"
#include "morph_toolkit/rbf_fit.hpp"
#include "morph_toolkit/rbf_kernel.hpp"

namespace velk::toolkit {

// Everything a fitted morph is made of; restoring it gives the same bits.
struct RbfState {
  Kernel kernel = Kernel::thin_plate_spline;
  double epsilon = 1.0;
  int degree = 1;
  std::vector<double> centres;        // N × 3, the control points
  std::vector<double> displacements;  // N × 3, as prescribed
  std::vector<double> weights;        // N × 3
  std::vector<double> coefficients;   // terms × 3, of the polynomial in the scaled coordinates
  std::array<double, 3> shift{0, 0, 0}, scale{1, 1, 1};
  // A reduced fit (fitted with a tolerance): the controls chosen as centres, in selection
  // order, with one row of weights each; and the largest error left at a control before the
  // correction. Empty and 0 for a full fit.
  std::vector<int64_t> selected;
  double max_error = 0.0;
  // The correction of a reduced fit: weights (N × 3) of a Wendland C2 kernel with support
  // radius 1 / correction_epsilon at every control, interpolating the error the reduced fit
  // left there. Empty without a correction.
  std::vector<double> correction_weights;
  double correction_epsilon = 0.0;
};

// Fits with more controls than this use the sparse solver when the kernel is compact.
constexpr std::size_t kSparseFitMin = 2000;
// The total of a fit's progress reports: done counts thousandths of the fit.
constexpr std::size_t kFitProgressUnits = 1000;

class RbfMorph;
namespace rbf_morph_detail {
// The correction stage of a reduced state, as a morph of its own.
std::shared_ptr<const RbfMorph> correction_morph(const RbfState& state);
}  // namespace rbf_morph_detail

class RbfMorph {
 public:
  // Fits the morph to n_controls control points and n_displacements displacements (x, y, z
  // interleaved, finite: the caller checks). degree: none for the kernel's default. Throws
  // InvalidInput for unequal lengths, a bad epsilon or degree, a polynomial the controls leave
  // undetermined, coincident controls (naming both indices) or a singular system, and
  // MemoryRefusal before any work when the fit cannot fit in memory.
  // With a tolerance, centres are selected greedily among the controls until every control is
  // within tolerance × the largest displacement, then a Wendland C2 correction of small radius
  // interpolates what is left, so every control still receives its displacement.
  // Progress counts kFitProgressUnits over the stages, each given a share by its expected work:
  // a full fit builds its matrix, factorises it (dense: by panels; sparse: the decades the
  // residual of each iterative solve fell) and checks the result at the controls; a reduced fit
  // selects its centres (the first half, by the selection's own estimate) and fits its
  // correction (the rest).
  static RbfMorph fit(const double* controls, std::size_t n_controls, const double* displacements,
                      std::size_t n_displacements, Kernel kernel, double epsilon,
                      std::optional<int> degree, std::optional<double> tolerance = std::nullopt,
                      const ProgressCallback* progress = nullptr);

  // The morph of a state (from state()), without fitting again; InvalidInput when it is not one.
  static RbfMorph restore(RbfState state);

  // out (m × 3) = s(points) for the m points (x, y, z interleaved). Progress counts points
  // (twice for a reduced fit: its expansion, then its correction).
  void displacement(const double* points, std::size_t m, double* out,
                    const ProgressCallback* progress = nullptr) const;
  // out = points + s(points), component by component.
  void deform(const double* points, std::size_t m, double* out,
              const ProgressCallback* progress = nullptr) const;

  const RbfState& state() const { return state_; }
  Kernel kernel() const { return state_.kernel; }
  double epsilon() const { return state_.epsilon; }
  int degree() const { return state_.degree; }
  std::size_t n_controls() const { return state_.centres.size() / 3; }
  // The support radius of the correction of a reduced fit (0 without one).
  double correction_radius() const {
    return state_.correction_epsilon > 0.0 ? 1.0 / state_.correction_epsilon : 0.0;
  }

  // The solves of the fit (dense LU factors or sparse matrix), kept for later solves with the
  // same matrix; null for a restored morph until fitted again.
  const std::shared_ptr<const FitSolver>& solver() const { return solver_; }
  // The correction stage of a reduced fit, a full fit of its own; null for a full fit.
  const std::shared_ptr<const RbfMorph>& correction() const { return correction_; }

 private:
  explicit RbfMorph(RbfState state);
  // fit, reporting its progress within `progress`.
  static RbfMorph fit_within(const double* controls, std::size_t n_controls,
                             const double* displacements, std::size_t n_displacements,
                             Kernel kernel, double epsilon, std::optional<int> degree,
                             std::optional<double> tolerance, const ProgressSpan& progress);
  // The reduced fit of a checked state (controls, displacements, kernel, epsilon, degree).
  static RbfMorph fit_reduced(RbfState state, const PolynomialBasis& basis, double tolerance,
                              const ProgressSpan& progress);
  // The kernel expansion and polynomial, without the correction.
  void main_displacement(const double* points, std::size_t m, double* out,
                         ProgressMeter* meter = nullptr) const;
  // Lays out the centres and weights for evaluation (by coordinate; in cell order for compact
  // kernels, with the grid).
  void prepare_evaluation();

  RbfState state_;
  PolynomialBasis basis_;
  std::vector<double> cx_, cy_, cz_, w0_, w1_, w2_;
  std::shared_ptr<const CellGrid> grid_;
  std::shared_ptr<const FitSolver> solver_;
  std::shared_ptr<const RbfMorph> correction_;
};

}  // namespace velk::toolkit
