// The dense fit of the displacement morph: the saddle-point matrix built in row blocks on the
// worker pool, factorised by the blocked LU with partial pivoting (deterministic at any thread
// count), and solved for three right-hand sides at a time from the kept factors.
#include <algorithm>
#include <cmath>
#include <cstring>

#include "core/checked_size.hpp"
#include "core/worker_pool.hpp"
#include "interp/dense_solver.hpp"
#include "morph_toolkit/errors.hpp"
#include "morph_toolkit/rbf_fit.hpp"
#include "morph_toolkit/rbf_lanes.hpp"

namespace velk::toolkit {

namespace dense_fit_detail {

// Rows of the kernel matrix per block of work.
constexpr std::size_t kRowBlock = 32;

class DenseSolver final : public FitSolver {
 public:
  DenseSolver(interp::LuFactors factors, std::size_t controls, std::size_t terms)
      : lu_(std::move(factors)), controls_(controls), terms_(terms) {}

  std::expected<void, std::string> solve(const double* r, const double* c, double* w, double* a,
                                         const ProgressSpan&) const override {
    const std::size_t n = controls_ + terms_;
    // y = the right-hand side in pivot order, then L y' = y (unit diagonal), then U x = y'.
    std::vector<double> y(3 * n);
    for (std::size_t i = 0; i < n; ++i) {
      const std::size_t src = lu_.perm[i];
      const double* from = src < controls_ ? r + 3 * src : c + 3 * (src - controls_);
      std::memcpy(&y[3 * i], from, 3 * sizeof(double));
    }
    for (std::size_t i = 0; i < n; ++i) {
      const double* row = lu_.lu[i];
      double s0 = y[3 * i], s1 = y[3 * i + 1], s2 = y[3 * i + 2];
      for (std::size_t k = 0; k < i; ++k) {
        s0 = s0 - row[k] * y[3 * k];
        s1 = s1 - row[k] * y[3 * k + 1];
        s2 = s2 - row[k] * y[3 * k + 2];
      }
      y[3 * i] = s0, y[3 * i + 1] = s1, y[3 * i + 2] = s2;
    }
    for (std::size_t i = n; i-- > 0;) {
      const double* row = lu_.lu[i];
      double s0 = y[3 * i], s1 = y[3 * i + 1], s2 = y[3 * i + 2];
      for (std::size_t k = i + 1; k < n; ++k) {
        s0 = s0 - row[k] * y[3 * k];
        s1 = s1 - row[k] * y[3 * k + 1];
        s2 = s2 - row[k] * y[3 * k + 2];
      }
      y[3 * i] = s0 / row[i], y[3 * i + 1] = s1 / row[i], y[3 * i + 2] = s2 / row[i];
    }
    return finish(y, w, a);
  }

  // P A = L U, so A^T x = b is U^T z = b, then L^T y = z, then x = P^T y; both triangles are
  // swept by rows of the factors (each solved value is subtracted from the ones after it).
  std::expected<void, std::string> solve_transposed(const double* r, const double* c, double* w,
                                                    double* a) const override {
    const std::size_t n = controls_ + terms_;
    std::vector<double> z(3 * n);
    std::memcpy(z.data(), r, 3 * controls_ * sizeof(double));
    if (terms_ > 0) std::memcpy(z.data() + 3 * controls_, c, 3 * terms_ * sizeof(double));
    for (std::size_t k = 0; k < n; ++k) {
      const double* row = lu_.lu[k];
      const double z0 = z[3 * k] / row[k], z1 = z[3 * k + 1] / row[k], z2 = z[3 * k + 2] / row[k];
      z[3 * k] = z0, z[3 * k + 1] = z1, z[3 * k + 2] = z2;
      for (std::size_t i = k + 1; i < n; ++i) {
        z[3 * i] = z[3 * i] - row[i] * z0;
        z[3 * i + 1] = z[3 * i + 1] - row[i] * z1;
        z[3 * i + 2] = z[3 * i + 2] - row[i] * z2;
      }
    }
    for (std::size_t k = n; k-- > 0;) {
      const double* row = lu_.lu[k];
      const double y0 = z[3 * k], y1 = z[3 * k + 1], y2 = z[3 * k + 2];
      for (std::size_t i = 0; i < k; ++i) {
        z[3 * i] = z[3 * i] - row[i] * y0;
        z[3 * i + 1] = z[3 * i + 1] - row[i] * y1;
        z[3 * i + 2] = z[3 * i + 2] - row[i] * y2;
      }
    }
    std::vector<double> x(3 * n);
    for (std::size_t i = 0; i < n; ++i)
      std::memcpy(&x[3 * lu_.perm[i]], &z[3 * i], 3 * sizeof(double));
    return finish(x, w, a);
  }

 private:
  // Checks the solution x (N + terms rows of 3) and hands it out as w and a.
  std::expected<void, std::string> finish(const std::vector<double>& x, double* w,
                                          double* a) const {
    for (double v : x)
      if (!std::isfinite(v)) return std::unexpected(std::string("the fit's system is singular"));
    std::memcpy(w, x.data(), 3 * controls_ * sizeof(double));
    if (terms_ > 0) std::memcpy(a, x.data() + 3 * controls_, 3 * terms_ * sizeof(double));
    return {};
  }

  interp::LuFactors lu_;
  std::size_t controls_, terms_;
};

}  // namespace dense_fit_detail

void dense_fit_memory_check(std::size_t controls, std::size_t terms) {
  const std::size_t n = controls + terms;
  try {
    sizes::require_memory(sizes::bytes(sizes::mul(n, n), sizeof(double)),
                          "a dense fit of " + std::to_string(controls) + " control points (a " +
                              std::to_string(n) + " x " + std::to_string(n) + " matrix)");
  } catch (const sizes::MemoryRefused& refused) {
    throw MemoryRefusal(std::string(refused.what()) +
                        "; a compact kernel (wendland_c0, wendland_c2 or wendland_c4) fits "
                        "sparse, or reduce the control points to a subset");
  }
}

std::expected<std::unique_ptr<FitSolver>, std::string> dense_fit(const FitProblem& problem,
                                                                 const ProgressSpan& progress) {
  using dense_fit_detail::kRowBlock;
  const std::size_t controls = problem.size(), terms = problem.basis.terms();
  const std::size_t n = controls + terms;
  dense_fit_memory_check(controls, terms);
  const std::size_t padded = lanes::round_up(controls);
  const lanes::PaddedColumns columns(problem.centres.data(), controls, padded);
  const std::vector<double>&cx = columns.x, &cy = columns.y, &cz = columns.z;
  interp::RowMatrix matrix = interp::RowMatrix::uninitialised(n);
  const std::size_t blocks = (n + kRowBlock - 1) / kRowBlock;
  // An entry of the rows costs about as much as 600 of the factorisation's n^3 / 3
  // multiply-subtracts (a kernel value against vectorised tiles).
  const double nd = static_cast<double>(n), rows_share = 1800.0 / (1800.0 + nd);
  const ProgressSpan building = progress.part(0.0, rows_share);
  const ProgressSpan factorising = progress.part(rows_share, 1.0);
  const bool parallel = n >= 2 * kRowBlock;
  const std::function<bool()> step = building.alongside();
  // Each task keeps one row of kernel values for all the blocks it takes.
  pool::for_each_block(
      blocks, parallel ? SIZE_MAX : 1, [&] { return std::vector<double>(padded); },
      [&](std::vector<double>& values, std::size_t b) {
        for (std::size_t i = b * kRowBlock; i < std::min(n, (b + 1) * kRowBlock); ++i) {
          double* row = matrix[i];
          if (i < controls) {
            lanes::phi_row(problem.kernel, cx[i], cy[i], cz[i], cx.data(), cy.data(), cz.data(),
                           padded, problem.e2, values.data());
            std::memcpy(row, values.data(), controls * sizeof(double));
            problem.basis.values(cx[i], cy[i], cz[i], row + controls);
          } else {
            double q[10] = {};
            for (std::size_t j = 0; j < controls; ++j) {
              problem.basis.values(cx[j], cy[j], cz[j], q);
              row[j] = q[i - controls];
            }
            std::fill(row + controls, row + n, 0.0);
          }
        }
        building.block_done(b, blocks);
      },
      step);
  // Panel by panel: the work left after k pivot columns is ((n - k) / n)^3 of the whole.
  std::function<void(std::size_t)> after_panel;
  if (factorising.active())
    after_panel = [&](std::size_t k) {
      const double left = (nd - static_cast<double>(k)) / nd;
      factorising.at(1.0 - left * left * left);
    };
  auto factors = interp::lu_decompose_fused(std::move(matrix), after_panel);
  if (!factors) return std::unexpected("the fit's system is singular (" + factors.error() + ")");
  return std::make_unique<dense_fit_detail::DenseSolver>(std::move(*factors), controls, terms);
}

}  // namespace velk::toolkit
