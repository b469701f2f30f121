// The sparse fit of a compact kernel. Phi holds only the pairs within the support, found through
// the cell grid and stored by rows in cell order (neighbours in space are near in memory). The
// solves run conjugate gradients on several right-hand sides at once, preconditioned by
// symmetric Gauss-Seidel on fixed diagonal blocks of rows; the polynomial part, when there is
// one, is eliminated through its Schur complement P^T Phi^-1 P. Every parallel step works on
// fixed blocks of rows and every sum is taken in a fixed order, so the bits do not depend on the
// thread count.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <type_traits>

#include "core/checked_size.hpp"
#include "core/interrupt.hpp"
#include "core/worker_pool.hpp"
#include "morph_toolkit/errors.hpp"
#include "morph_toolkit/rbf_fit.hpp"
#include "morph_toolkit/rbf_lanes.hpp"

namespace velk::toolkit {

namespace sparse_fit_detail {

// Rows per block of every parallel step, and per diagonal block of the preconditioner (larger:
// the blocks ignore the entries between them, which slows convergence).
constexpr std::size_t kBlock = 2048;
constexpr std::size_t kPreconditionBlock = 8192;
// The iteration stops when every column's largest residual is this fraction of its largest
// right-hand side; the residual recomputed from the solution must then be within kAccept of
// it, or the iteration restarts from there.
constexpr double kTolerance = 1e-14;
constexpr double kAccept = 1e-12;
constexpr int kRestarts = 6;
constexpr std::size_t kMaxIterations = 20000;

// Columns of a solve at most (three displacement components, or the ten monomials).
constexpr std::size_t kMaxColumns = 16;

// body(k) with k a compile-time 3 (the displacement solves, so their loops unroll) or k itself.
template <class F>
void with_columns(std::size_t k, F&& body) {
  if (k == 3) return body(std::integral_constant<std::size_t, 3>{});
  body(k);
}

// Phi in compressed rows, rows and columns in cell order.
struct SparseMatrix {
  std::size_t n = 0;
  std::vector<std::size_t> start;  // row i holds entries [start[i], start[i + 1])
  std::vector<std::uint32_t> column;
  std::vector<double> value;
  std::vector<double> diagonal;

  // y = A x for k columns (row-major n × k).
  void multiply(const double* x, double* y, std::size_t k) const {
    with_columns(k, [&](auto cols) {
      const std::size_t blocks = (n + kBlock - 1) / kBlock;
      pool::for_each_block(blocks, blocks > 1, [&](std::size_t b) {
        for (std::size_t i = b * kBlock; i < std::min(n, (b + 1) * kBlock); ++i) {
          double acc[kMaxColumns] = {};
          for (std::size_t e = start[i]; e < start[i + 1]; ++e) {
            const double a = value[e];
            const double* xj = x + cols * column[e];
            for (std::size_t c = 0; c < cols; ++c) acc[c] = acc[c] + a * xj[c];
          }
          std::memcpy(y + cols * i, acc, cols * sizeof(double));
        }
      });
    });
  }

  // z = M^-1 r for the block symmetric Gauss-Seidel preconditioner M (on each diagonal block B
  // of rows: (D + L) D^-1 (D + U) of that block's entries only), k columns.
  void precondition(const double* r, double* z, std::size_t k) const {
    with_columns(k, [&](auto cols) {
      const std::size_t blocks = (n + kPreconditionBlock - 1) / kPreconditionBlock;
      pool::for_each_block(blocks, blocks > 1, [&](std::size_t b) {
        const std::size_t b0 = b * kPreconditionBlock,
                          b1 = std::min(n, (b + 1) * kPreconditionBlock);
        double acc[kMaxColumns];
        for (std::size_t i = b0; i < b1; ++i) {
          std::memcpy(acc, r + cols * i, cols * sizeof(double));
          for (std::size_t e = start[i]; e < start[i + 1] && column[e] < i; ++e) {
            if (column[e] < b0) continue;
            const double* zj = z + cols * column[e];
            for (std::size_t c = 0; c < cols; ++c) acc[c] = acc[c] - value[e] * zj[c];
          }
          for (std::size_t c = 0; c < cols; ++c) z[cols * i + c] = acc[c] / diagonal[i];
        }
        for (std::size_t i = b1; i-- > b0;) {
          std::fill(acc, acc + cols, 0.0);
          for (std::size_t e = start[i + 1]; e-- > start[i] && column[e] > i;) {
            if (column[e] >= b1) continue;
            const double* zj = z + cols * column[e];
            for (std::size_t c = 0; c < cols; ++c) acc[c] = acc[c] + value[e] * zj[c];
          }
          for (std::size_t c = 0; c < cols; ++c) z[cols * i + c] -= acc[c] / diagonal[i];
        }
      });
    });
  }
};

// Per column c of k: sum over rows of a[i][c] · b[i][c], in fixed blocks summed in block order.
std::vector<double> column_dots(const double* a, const double* b, std::size_t n, std::size_t k) {
  const std::size_t blocks = (n + kBlock - 1) / kBlock;
  std::vector<double> partial(blocks * k, 0.0);
  pool::for_each_block(blocks, blocks > 1, [&](std::size_t blk) {
    double* out = &partial[blk * k];
    for (std::size_t i = blk * kBlock; i < std::min(n, (blk + 1) * kBlock); ++i)
      for (std::size_t c = 0; c < k; ++c) out[c] = out[c] + a[k * i + c] * b[k * i + c];
  });
  std::vector<double> total(k, 0.0);
  for (std::size_t blk = 0; blk < blocks; ++blk)
    for (std::size_t c = 0; c < k; ++c) total[c] += partial[blk * k + c];
  return total;
}

// Per column: the largest magnitude.
std::vector<double> column_max(const double* a, std::size_t n, std::size_t k) {
  std::vector<double> m(k, 0.0);
  for (std::size_t i = 0; i < n; ++i)
    for (std::size_t c = 0; c < k; ++c) m[c] = std::max(m[c], std::fabs(a[k * i + c]));
  return m;
}

// Tells `progress` how far the residual rn (per column) has fallen towards kTolerance of scale,
// in decades of its worst column.
void tell_residual(const std::vector<double>& rn, const std::vector<double>& scale,
                   const ProgressSpan& progress) {
  if (!progress.active()) return;
  double worst = 0.0;
  for (std::size_t c = 0; c < rn.size(); ++c)
    if (scale[c] > 0.0) worst = std::max(worst, rn[c] / scale[c]);
  progress.at(worst > 0.0 ? std::log(worst) / std::log(kTolerance) : 1.0);
}

// x += the conjugate-gradient solution of A dx = b (k columns), run until every column's
// residual is below kTolerance of max|b|. Fails when A shows itself not positive definite or the
// iteration does not get there.
std::expected<void, std::string> cg_run(const SparseMatrix& A, const double* b, double* x,
                                        std::size_t k, const std::vector<double>& scale,
                                        const ProgressSpan& progress) {
  const std::size_t n = A.n, size = n * k;
  std::vector<double> r(b, b + size), z(size), p(size), q(size), dx(size, 0.0);
  std::vector<bool> active(k);
  bool any = false;
  {
    const std::vector<double> rn = column_max(r.data(), n, k);
    for (std::size_t c = 0; c < k; ++c) any |= (active[c] = rn[c] > kTolerance * scale[c]);
  }
  if (!any) return {};
  A.precondition(r.data(), z.data(), k);
  p = z;
  std::vector<double> rz = column_dots(r.data(), z.data(), n, k);
  for (std::size_t it = 0;; ++it) {
    if (it == kMaxIterations)
      return std::unexpected("the sparse fit did not converge in " +
                             std::to_string(kMaxIterations) + " iterations");
    interrupt::checkpoint();
    A.multiply(p.data(), q.data(), k);
    const std::vector<double> pq = column_dots(p.data(), q.data(), n, k);
    std::vector<double> alpha(k, 0.0);
    for (std::size_t c = 0; c < k; ++c) {
      if (!active[c]) continue;
      if (!(pq[c] > 0.0) || !std::isfinite(pq[c]))
        return std::unexpected(std::string("the fit's system is singular (not positive definite)"));
      alpha[c] = rz[c] / pq[c];
    }
    for (std::size_t i = 0; i < size; i += k)
      for (std::size_t c = 0; c < k; ++c) {
        dx[i + c] = dx[i + c] + alpha[c] * p[i + c];
        r[i + c] = r[i + c] - alpha[c] * q[i + c];
      }
    const std::vector<double> rn = column_max(r.data(), n, k);
    tell_residual(rn, scale, progress);
    any = false;
    for (std::size_t c = 0; c < k; ++c)
      any |= (active[c] = active[c] && rn[c] > kTolerance * scale[c]);
    if (!any) break;
    A.precondition(r.data(), z.data(), k);
    const std::vector<double> rz_next = column_dots(r.data(), z.data(), n, k);
    for (std::size_t c = 0; c < k; ++c) {
      const double beta = active[c] ? rz_next[c] / rz[c] : 0.0;
      for (std::size_t i = c; i < size; i += k) p[i] = z[i] + beta * p[i];
      rz[c] = rz_next[c];
    }
  }
  for (std::size_t i = 0; i < size; ++i) x[i] += dx[i];
  return {};
}

// x = A^-1 b (k columns), restarting from the true residual until it is within kAccept of
// max|b| per column.
std::expected<void, std::string> cg_solve(const SparseMatrix& A, const double* b, double* x,
                                          std::size_t k, const ProgressSpan& progress) {
  const std::size_t size = A.n * k;
  const std::vector<double> scale = column_max(b, A.n, k);
  std::fill(x, x + size, 0.0);
  std::vector<double> residual(b, b + size), ax(size);
  for (int attempt = 0;; ++attempt) {
    auto run = cg_run(A, residual.data(), x, k, scale, progress);
    if (!run) return run;
    A.multiply(x, ax.data(), k);
    for (std::size_t i = 0; i < size; ++i) residual[i] = b[i] - ax[i];
    const std::vector<double> rn = column_max(residual.data(), A.n, k);
    bool done = true;
    for (std::size_t c = 0; c < k; ++c) done &= !(rn[c] > kAccept * scale[c]);
    if (done) return {};
    if (attempt == kRestarts)
      return std::unexpected(
          std::string("the sparse fit did not reach its accuracy: the system is singular or too "
                      "ill-conditioned (a larger epsilon, i.e. a smaller support radius, helps)"));
  }
}

// Solves a small dense system m × m (row-major, copied) for k columns by Gaussian elimination
// with partial pivoting; fails on a zero pivot.
std::expected<void, std::string> small_solve(std::vector<double> a, std::size_t m, double* b,
                                             std::size_t k) {
  for (std::size_t col = 0; col < m; ++col) {
    std::size_t best = col;
    for (std::size_t i = col + 1; i < m; ++i)
      if (std::fabs(a[i * m + col]) > std::fabs(a[best * m + col])) best = i;
    if (a[best * m + col] == 0.0)
      return std::unexpected(std::string("the fit's polynomial system is singular"));
    if (best != col) {
      std::swap_ranges(&a[best * m], &a[best * m] + m, &a[col * m]);
      std::swap_ranges(b + best * k, b + best * k + k, b + col * k);
    }
    for (std::size_t i = col + 1; i < m; ++i) {
      const double f = a[i * m + col] / a[col * m + col];
      for (std::size_t j = col; j < m; ++j) a[i * m + j] = a[i * m + j] - f * a[col * m + j];
      for (std::size_t c = 0; c < k; ++c) b[i * k + c] = b[i * k + c] - f * b[col * k + c];
    }
  }
  for (std::size_t i = m; i-- > 0;)
    for (std::size_t c = 0; c < k; ++c) {
      double s = b[i * k + c];
      for (std::size_t j = i + 1; j < m; ++j) s = s - a[i * m + j] * b[j * k + c];
      b[i * k + c] = s / a[i * m + i];
    }
  return {};
}

class SparseSolver final : public FitSolver {
 public:
  SparseSolver(SparseMatrix matrix, std::vector<std::size_t> order, std::vector<double> basis,
               std::size_t terms)
      : a_(std::move(matrix)), order_(std::move(order)), p_(std::move(basis)), terms_(terms) {}

  // Phi^-1 P and its Schur complement P^T Phi^-1 P, once.
  std::expected<void, std::string> prepare(const ProgressSpan& progress) {
    if (terms_ == 0) return {};
    const std::size_t n = a_.n, m = terms_;
    phi_inv_p_.resize(n * m);
    auto solved = cg_solve(a_, p_.data(), phi_inv_p_.data(), m, progress);
    if (!solved) return solved;
    schur_ = transposed_product(phi_inv_p_.data(), m);
    return {};
  }

  std::expected<void, std::string> solve(const double* r, const double* c, double* w, double* a,
                                         const ProgressSpan& progress) const override {
    const std::size_t n = a_.n, m = terms_;
    std::vector<double> b(3 * n), x(3 * n);
    for (std::size_t i = 0; i < n; ++i)
      std::memcpy(&b[3 * i], r + 3 * order_[i], 3 * sizeof(double));
    auto solved = cg_solve(a_, b.data(), x.data(), 3, progress);
    if (!solved) return solved;
    if (m > 0) {
      // a = S^-1 (P^T Phi^-1 r - c), w = Phi^-1 r - Phi^-1 P a.
      std::vector<double> g = transposed_product(x.data(), 3);
      for (std::size_t i = 0; i < 3 * m; ++i) g[i] -= c[i];
      auto small = small_solve(schur_, m, g.data(), 3);
      if (!small) return small;
      for (std::size_t i = 0; i < n; ++i)
        for (std::size_t t = 0; t < m; ++t)
          for (std::size_t k = 0; k < 3; ++k)
            x[3 * i + k] = x[3 * i + k] - phi_inv_p_[m * i + t] * g[3 * t + k];
      std::memcpy(a, g.data(), 3 * m * sizeof(double));
    }
    for (std::size_t i = 0; i < n; ++i)
      std::memcpy(w + 3 * order_[i], &x[3 * i], 3 * sizeof(double));
    for (std::size_t i = 0; i < 3 * n; ++i)
      if (!std::isfinite(w[i])) return std::unexpected(std::string("the fit's system is singular"));
    return {};
  }

 private:
  // P^T y (terms × k) for y of k columns in cell order, rows summed in order.
  std::vector<double> transposed_product(const double* y, std::size_t k) const {
    const std::size_t m = terms_;
    std::vector<double> out(m * k, 0.0);
    for (std::size_t i = 0; i < a_.n; ++i)
      for (std::size_t t = 0; t < m; ++t)
        for (std::size_t c = 0; c < k; ++c)
          out[t * k + c] = out[t * k + c] + p_[m * i + t] * y[k * i + c];
    return out;
  }

  SparseMatrix a_;
  std::vector<std::size_t> order_;
  std::vector<double> p_;  // the monomials of each control, cell order, n × terms
  std::size_t terms_;
  std::vector<double> phi_inv_p_, schur_;
};

}  // namespace sparse_fit_detail

std::expected<std::unique_ptr<FitSolver>, std::string> sparse_fit(const FitProblem& problem,
                                                                  const CellGrid& grid,
                                                                  const ProgressSpan& progress) {
  using namespace sparse_fit_detail;
  const std::size_t n = problem.size(), m = problem.basis.terms();
  const std::vector<std::size_t>& order = grid.order();
  std::vector<double> cx(n), cy(n), cz(n);
  for (std::size_t i = 0; i < n; ++i)
    cx[i] = problem.centres[3 * order[i]], cy[i] = problem.centres[3 * order[i] + 1],
    cz[i] = problem.centres[3 * order[i] + 2];
  SparseMatrix a;
  a.n = n;
  a.start.assign(n + 1, 0);
  const std::size_t blocks = (n + kBlock - 1) / kBlock;
  // The matrix's two passes take a fifth of the fit's progress when there are polynomial solves.
  const double rows_share = m > 0 ? 0.2 : 1.0;
  const ProgressSpan counting = progress.part(0.0, rows_share / 2),
                     filling = progress.part(rows_share / 2, rows_share);
  // One pass over the rows, in blocks on the pool: row i's entries within the support counted
  // into a.start[i + 1], or (fill) written with the diagonal noted.
  const auto pass = [&](const ProgressSpan& stage, bool fill) {
    const std::function<bool()> step = stage.alongside();
    pool::for_each_block(
        blocks, blocks > 1,
        [&](std::size_t b) {
          std::size_t ranges[18];
          for (std::size_t i = b * kBlock; i < std::min(n, (b + 1) * kBlock); ++i) {
            const std::size_t count = grid.ranges_near(cx[i], cy[i], cz[i], ranges);
            const std::size_t entries = lanes::compact_row(
                problem.kernel, cx[i], cy[i], cz[i], ranges, count, cx.data(), cy.data(), cz.data(),
                problem.e2, fill ? &a.column[a.start[i]] : nullptr,
                fill ? &a.value[a.start[i]] : nullptr);
            if (!fill) {
              a.start[i + 1] = entries;
              continue;
            }
            a.diagonal[i] = 0.0;
            for (std::size_t e = a.start[i]; e < a.start[i + 1]; ++e)
              if (a.column[e] == i) a.diagonal[i] = a.value[e];
          }
          stage.block_done(b, blocks);
        },
        step);
  };
  // First the count of each row, then the entries, so the matrix is allocated once.
  pass(counting, false);
  for (std::size_t i = 0; i < n; ++i) a.start[i + 1] += a.start[i];
  const std::size_t nnz = a.start[n];
  try {
    sizes::require_memory(sizes::bytes(nnz, sizeof(double) + sizeof(std::uint32_t)),
                          "a sparse fit with " + std::to_string(nnz) + " kernel entries");
  } catch (const sizes::MemoryRefused& refused) {
    throw MemoryRefusal(std::string(refused.what()) +
                        "; a larger epsilon (a smaller support radius) has fewer entries");
  }
  a.column.resize(nnz);
  a.value.resize(nnz);
  a.diagonal.resize(n);
  pass(filling, true);
  std::vector<double> basis(n * m);
  for (std::size_t i = 0; i < n; ++i)
    problem.basis.values(cx[i], cy[i], cz[i], basis.data() + m * i);
  auto solver = std::make_unique<SparseSolver>(std::move(a), order, std::move(basis), m);
  auto prepared = solver->prepare(progress.part(rows_share, 1.0));
  if (!prepared) return std::unexpected(prepared.error());
  return solver;
}

}  // namespace velk::toolkit
