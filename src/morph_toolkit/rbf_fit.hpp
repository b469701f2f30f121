// The linear solves of the displacement morph's fit: for right-hand sides r (N × 3) at the
// controls and c (terms × 3) for the polynomial constraints, the weights w and polynomial
// coefficients a with  Phi w + P a = r  and  P^T w = c.  Made once per fit and kept, so that
// corrections (iterative refinement) and later derivative solves reuse the factorisation.
#pragma once

#include <cstddef>
#include <expected>
#include <memory>
#include <string>
#include <vector>

#include "morph_toolkit/cell_grid.hpp"
#include "morph_toolkit/polynomial.hpp"
#include "morph_toolkit/progress.hpp"
#include "morph_toolkit/rbf_kernel.hpp"

namespace velk::toolkit {

// What a fit is made of: the kernel, epsilon², the control points (N × 3) and the basis.
struct FitProblem {
  Kernel kernel;
  double e2;
  const std::vector<double>& centres;
  const PolynomialBasis& basis;
  std::size_t size() const { return centres.size() / 3; }
};

class FitSolver {
 public:
  virtual ~FitSolver() = default;
  // w (N × 3) and a (terms × 3) for the right-hand sides r and c (layouts as above). An
  // iterative solve tells its progress to `progress` (on the calling thread).
  virtual std::expected<void, std::string> solve(const double* r, const double* c, double* w,
                                                 double* a,
                                                 const ProgressSpan& progress = {}) const = 0;
  // The same with the transpose of the operator solve applies (the system is symmetric; its
  // factors are not): the reverse products use it, so that they are the transposes of the
  // forward ones up to rounding, not up to the system's condition number. An iterative solve
  // of the symmetric system is its own transpose.
  virtual std::expected<void, std::string> solve_transposed(const double* r, const double* c,
                                                            double* w, double* a) const {
    return solve(r, c, w, a);
  }
};

// Throws MemoryRefusal, naming the size and the alternatives, when the dense fit's matrix
// for this many controls and polynomial terms cannot fit in memory.
void dense_fit_memory_check(std::size_t controls, std::size_t terms);

// The dense fit: the saddle-point matrix [Phi P; P^T 0] factorised by the blocked LU with
// partial pivoting (after dense_fit_memory_check); fails with a message when it is singular.
// Progress: the matrix's rows, then the factorisation's panels, by their share of the work.
std::expected<std::unique_ptr<FitSolver>, std::string> dense_fit(const FitProblem& problem,
                                                                 const ProgressSpan& progress = {});

// The sparse fit of a compact kernel: Phi (symmetric positive definite) stored by rows with the
// entries within the support only, found through the grid; solves by conjugate gradients with a
// block symmetric Gauss-Seidel preconditioner, the polynomial through its Schur complement.
// Throws MemoryRefusal when the non-zeros cannot fit in memory. Progress: the matrix's rows,
// then the polynomial's solves by the decades their residual fell (those of the displacements
// come with solve).
std::expected<std::unique_ptr<FitSolver>, std::string> sparse_fit(
    const FitProblem& problem, const CellGrid& grid, const ProgressSpan& progress = {});

}  // namespace velk::toolkit
