// Greedy centre selection on a Newton basis: the polynomial's points first (a pivoted
// Gram-Schmidt over the controls' monomials), then the control with the largest residual, one
// at a time, each one a new column of the basis, until the residual is within tolerance.
#include "morph_toolkit/greedy_selection.hpp"

#include <algorithm>
#include <cmath>
#include <string>

#include "core/interrupt.hpp"
#include "core/worker_pool.hpp"
#include "morph_toolkit/errors.hpp"

namespace velk::toolkit {

namespace greedy {

constexpr std::size_t kRowsPerBlock = 2048;
// A candidate whose power function (what the basis cannot yet represent of its kernel column)
// is below this fraction of the largest kernel diagonal would make the basis singular.
constexpr double kSmallestPower = 1e-11;
// A control whose monomials add less than this to the span of those chosen leaves the
// polynomial undetermined.
constexpr double kUnisolvent = 1e-9;
// The cost of a kernel column as that of this many columns of the Newton update (progress only).
constexpr double kColumnCost = 32.0;

// body(first, last) over fixed blocks of rows, on the pool; results in block order.
template <class R, class Body>
std::vector<R> over_blocks(std::size_t rows, Body&& body) {
  const std::size_t blocks = (rows + kRowsPerBlock - 1) / kRowsPerBlock;
  return pool::parallel_map<R>(blocks, [&](std::size_t b) {
    interrupt::checkpoint();
    return body(b * kRowsPerBlock, std::min(rows, (b + 1) * kRowsPerBlock));
  });
}

// The inverse of a small square matrix (row-major), by Gauss-Jordan with partial pivoting.
std::vector<double> inverse(std::vector<double> a, std::size_t n) {
  std::vector<double> inv(n * n, 0.0);
  for (std::size_t i = 0; i < n; ++i) inv[i * n + i] = 1.0;
  for (std::size_t col = 0; col < n; ++col) {
    std::size_t pivot = col;
    for (std::size_t r = col + 1; r < n; ++r)
      if (std::abs(a[r * n + col]) > std::abs(a[pivot * n + col])) pivot = r;
    for (std::size_t q = 0; q < n; ++q) {
      std::swap(a[col * n + q], a[pivot * n + q]);
      std::swap(inv[col * n + q], inv[pivot * n + q]);
    }
    const double d = a[col * n + col];
    for (std::size_t q = 0; q < n; ++q) a[col * n + q] /= d, inv[col * n + q] /= d;
    for (std::size_t r = 0; r < n; ++r) {
      if (r == col) continue;
      const double f = a[r * n + col];
      for (std::size_t q = 0; q < n; ++q) {
        a[r * n + q] -= f * a[col * n + q];
        inv[r * n + q] -= f * inv[col * n + q];
      }
    }
  }
  return inv;
}

// The polynomial's points: the control with the largest displacement, then each time the one
// whose monomials are farthest from the span of those chosen.
std::vector<std::size_t> unisolvent_points(const GreedyInput& in, std::size_t q) {
  const std::size_t n = in.controls.size() / 3;
  std::vector<std::size_t> chosen;
  if (q == 0) return chosen;
  std::size_t first = 0;
  double largest = -1.0;
  for (std::size_t i = 0; i < n; ++i) {
    const double* d = in.displacements.data() + 3 * i;
    const double size = d[0] * d[0] + d[1] * d[1] + d[2] * d[2];
    if (size > largest) largest = size, first = i;
  }
  std::vector<double> mono(n * q), basis;  // basis: orthonormal rows of length q
  for (std::size_t i = 0; i < n; ++i)
    in.basis.values(in.controls[3 * i], in.controls[3 * i + 1], in.controls[3 * i + 2],
                    mono.data() + i * q);
  auto add = [&](std::size_t row) {
    std::vector<double> v(mono.begin() + row * q, mono.begin() + (row + 1) * q);
    for (std::size_t b = 0; b < chosen.size(); ++b) {
      double dot = 0.0;
      for (std::size_t j = 0; j < q; ++j) dot += v[j] * basis[b * q + j];
      for (std::size_t j = 0; j < q; ++j) v[j] -= dot * basis[b * q + j];
    }
    double norm = 0.0;
    for (double x : v) norm += x * x;
    norm = std::sqrt(norm);
    for (double& x : v) x /= norm;
    basis.insert(basis.end(), v.begin(), v.end());
    chosen.push_back(row);
  };
  add(first);
  while (chosen.size() < q) {
    std::size_t best = n;
    double best_left = -1.0;
    for (std::size_t i = 0; i < n; ++i) {
      const double* m = mono.data() + i * q;
      double total = 0.0, along = 0.0;
      for (std::size_t j = 0; j < q; ++j) total += m[j] * m[j];
      for (std::size_t b = 0; b < chosen.size(); ++b) {
        double dot = 0.0;
        for (std::size_t j = 0; j < q; ++j) dot += m[j] * basis[b * q + j];
        along += dot * dot;
      }
      const double left = (total - along) / total;
      if (left > best_left) best_left = left, best = i;
    }
    if (best_left <= kUnisolvent)
      throw InvalidInput("control_points leave the polynomial of degree " +
                         std::to_string(in.basis.degree) + " undetermined: it needs " +
                         std::to_string(q) + " points not on one " +
                         (in.basis.degree == 1 ? "plane" : "quadric") +
                         ", and the control points are fewer or all on one");
    add(best);
  }
  return chosen;
}

struct Best {
  double size = -1.0;  // squared residual norm of the best candidate
  std::size_t row = 0;
};

}  // namespace greedy

GreedyFit greedy_fit(const GreedyInput& in) {
  using namespace greedy;
  const std::size_t n = in.controls.size() / 3, q = static_cast<std::size_t>(in.basis.terms());
  const double* X = in.controls.data();
  GreedyFit fit;
  if (n == 0) return fit;
  if (n < q)
    throw InvalidInput("control_points leave the polynomial of degree " +
                       std::to_string(in.basis.degree) + " undetermined: it needs " +
                       std::to_string(q) + " points, there are " + std::to_string(n));
  const std::size_t cap =
      std::min(n, in.memory_limit / (sizeof(double) * std::max<std::size_t>(n, 1)));
  if (cap < std::max<std::size_t>(q, 1) && n > 0)
    throw MemoryRefusal("a greedy fit of " + std::to_string(n) + " control points needs at least " +
                        std::to_string(8 * n * q) +
                        " bytes for its basis, more than the limit of " +
                        std::to_string(in.memory_limit));
  const std::vector<std::size_t> xi = unisolvent_points(in, q);

  // Lagrange values l_i(x_n), kernel values phi(x_n, xi_i), and phi(xi_i, xi_j).
  std::vector<double> vd(q * q), lag(n * q), fxi(n * q), g(q * q);
  for (std::size_t i = 0; i < q; ++i)
    in.basis.values(X[3 * xi[i]], X[3 * xi[i] + 1], X[3 * xi[i] + 2], vd.data() + i * q);
  const std::vector<double> vd_inv = inverse(vd, q);
  over_blocks<int>(n, [&](std::size_t first, std::size_t last) {
    double m[10];
    std::vector<double> column(last - first);
    for (std::size_t i = 0; i < q; ++i) {
      in.kernel(X + 3 * xi[i], first, last, column.data());
      for (std::size_t row = first; row < last; ++row) fxi[row * q + i] = column[row - first];
    }
    for (std::size_t row = first; row < last; ++row) {
      in.basis.values(X[3 * row], X[3 * row + 1], X[3 * row + 2], m);
      for (std::size_t i = 0; i < q; ++i) {
        double l = 0.0;
        for (std::size_t j = 0; j < q; ++j) l += m[j] * vd_inv[j * q + i];
        lag[row * q + i] = l;
      }
    }
    return 0;
  });
  for (std::size_t i = 0; i < q; ++i)
    for (std::size_t j = 0; j < q; ++j) g[i * q + j] = fxi[xi[i] * q + j];
  double phi0 = 0.0;
  in.kernel(X, 0, 1, &phi0);

  // K(x, x) for every control: the power function before any centre.
  std::vector<double> power(n);
  for (std::size_t row = 0; row < n; ++row) {
    const double* l = lag.data() + row * q;
    const double* f = fxi.data() + row * q;
    double k = phi0;
    for (std::size_t i = 0; i < q; ++i) {
      k += l[i] * (l[i] - 2.0 * f[i]);
      for (std::size_t j = 0; j < q; ++j) k += l[i] * l[j] * g[i * q + j];
    }
    power[row] = k;
  }
  const double largest_power = *std::max_element(power.begin(), power.end());
  const double smallest_power = kSmallestPower * std::max(largest_power, 0.0);

  double largest_d = 0.0;
  for (std::size_t i = 0; i < n; ++i) {
    const double* d = in.displacements.data() + 3 * i;
    largest_d = std::max(largest_d, std::sqrt(d[0] * d[0] + d[1] * d[1] + d[2] * d[2]));
  }
  const double goal = in.tolerance * largest_d;

  // The Newton basis by column: columns[l][row] = v_l(x_row); `fresh` is the one being made.
  std::vector<std::vector<double>> columns;
  std::vector<double> fresh(n);
  std::vector<double> res(in.displacements.begin(), in.displacements.end());
  std::vector<char> taken(n, 0);
  std::vector<double> beta;  // (k, 3) Newton coefficients
  std::vector<double> centre_row(cap), a(q), b(q);

  // Adds the control `c` as the next centre, or returns false when the basis cannot take it.
  // Returns the best candidate for the next step through `next`.
  auto add_centre = [&](std::size_t c, Best& next) -> bool {
    const std::size_t k = fit.centres.size();
    for (std::size_t l = 0; l < k; ++l) centre_row[l] = columns[l][c];
    for (std::size_t i = 0; i < q; ++i) a[i] = lag[c * q + i];
    for (std::size_t i = 0; i < q; ++i) {
      double s = -fxi[c * q + i] + a[i];
      for (std::size_t j = 0; j < q; ++j) s += g[i * q + j] * a[j];
      b[i] = s;
    }
    // u(x) = K(x, c) - sum_l V[x][l] V[c][l], written into the new column.
    auto column = [&](std::size_t first, std::size_t last) {
      in.kernel(X + 3 * c, first, last, fresh.data() + first);
      for (std::size_t row = first; row < last; ++row) {
        double u = fresh[row];
        for (std::size_t i = 0; i < q; ++i) u += lag[row * q + i] * b[i] - fxi[row * q + i] * a[i];
        fresh[row] = u;
      }
      for (std::size_t l = 0; l < k; ++l) {
        const double* v = columns[l].data();
        const double w = centre_row[l];
        for (std::size_t row = first; row < last; ++row) fresh[row] -= v[row] * w;
      }
      return 0;
    };
    if (k < cap) {
      over_blocks<int>(n, column);
    } else {
      return false;
    }
    const double p2 = fresh[c];
    if (!(p2 > smallest_power)) return false;
    const double root = std::sqrt(p2);
    const double bc[3] = {res[3 * c] / root, res[3 * c + 1] / root, res[3 * c + 2] / root};
    taken[c] = 1;
    const std::vector<Best> bests = over_blocks<Best>(n, [&](std::size_t first, std::size_t last) {
      Best best;
      for (std::size_t row = first; row < last; ++row) {
        const double v = fresh[row] / root;
        fresh[row] = v;
        double* r = &res[3 * row];
        r[0] -= bc[0] * v, r[1] -= bc[1] * v, r[2] -= bc[2] * v;
        power[row] -= v * v;
        const double size = r[0] * r[0] + r[1] * r[1] + r[2] * r[2];
        if (!taken[row] && power[row] > smallest_power && size > best.size)
          best.size = size, best.row = row;
      }
      return best;
    });
    next = Best{};
    for (const Best& c2 : bests)
      if (c2.size > next.size) next = c2;
    fit.centres.push_back(static_cast<int64_t>(c));
    beta.insert(beta.end(), bc, bc + 3);
    columns.push_back(std::move(fresh));
    fresh.assign(n, 0.0);
    return true;
  };

  Best next;
  // The selection's progress: its work so far against the work to the count of centres where
  // the largest residual, falling as it fell over the last half of the centres, reaches the
  // goal (at most cap). A centre costs a kernel column and a Newton update of k columns.
  std::vector<double> fallen;  // log(largest residual / largest displacement) after each centre
  const auto tell = [&] {
    if (!in.progress) return;
    const double k = static_cast<double>(fit.centres.size());
    double end = static_cast<double>(cap);
    if (next.size > 0.0 && largest_d > 0.0 && in.tolerance > 0.0 && in.tolerance < 1.0) {
      fallen.push_back(std::log(std::sqrt(next.size) / largest_d));
      const std::size_t half = fallen.size() / 2;
      const double slope = (fallen.back() - (half > 0 ? fallen[half - 1] : 0.0)) /
                           static_cast<double>(fallen.size() - half);
      if (slope < 0.0) end = std::min(end, k + (std::log(in.tolerance) - fallen.back()) / slope);
    }
    const auto work = [](double centres) { return centres * (kColumnCost + centres / 2); };
    in.progress(work(k) / work(std::max(end, k + 1.0)));
  };
  for (std::size_t c : xi)
    if (!add_centre(c, next))
      throw InvalidInput("control_points leave the polynomial of degree " +
                         std::to_string(in.basis.degree) + " undetermined");
  if (q == 0) {
    // The first centre: the largest displacement.
    for (std::size_t i = 0; i < n; ++i) {
      const double* d = &res[3 * i];
      const double size = d[0] * d[0] + d[1] * d[1] + d[2] * d[2];
      if (size > next.size && power[i] > smallest_power) next = Best{size, i};
    }
  }
  while (next.size >= 0.0 && std::sqrt(next.size) > goal) {
    tell();
    interrupt::checkpoint();
    const std::size_t c = next.row;
    if (!add_centre(c, next)) {
      if (fit.centres.size() >= cap) {
        fit.stopped_early = true;
        break;
      }
      // The basis cannot take this control: leave it to the correction and go on.
      taken[c] = 1;
      next = Best{};
      for (std::size_t i = 0; i < n; ++i) {
        const double* d = &res[3 * i];
        const double size = d[0] * d[0] + d[1] * d[1] + d[2] * d[2];
        if (!taken[i] && power[i] > smallest_power && size > next.size) next = Best{size, i};
      }
      fit.stopped_early = next.size < 0.0;
    }
  }

  // Kernel weights: alpha = A^-T beta with A[a][l] = V[c_a][l] (lower triangular), then the
  // reduced kernel's terms folded into the weights of the polynomial's points and a polynomial.
  const std::size_t k = fit.centres.size();
  std::vector<double> alpha(beta);
  for (std::size_t l = k; l-- > 0;) {
    for (int comp = 0; comp < 3; ++comp) {
      double s = alpha[3 * l + comp];
      for (std::size_t m = l + 1; m < k; ++m)
        s -= columns[l][static_cast<std::size_t>(fit.centres[m])] * alpha[3 * m + comp];
      alpha[3 * l + comp] = s / columns[l][static_cast<std::size_t>(fit.centres[l])];
    }
  }
  std::vector<double> gamma(3 * q, 0.0), eta(3 * q, 0.0);
  for (std::size_t m = 0; m < k; ++m) {
    const std::size_t c = static_cast<std::size_t>(fit.centres[m]);
    for (std::size_t i = 0; i < q; ++i)
      for (int comp = 0; comp < 3; ++comp) {
        gamma[3 * i + comp] += alpha[3 * m + comp] * lag[c * q + i];
        eta[3 * i + comp] -= alpha[3 * m + comp] * fxi[c * q + i];
      }
  }
  for (std::size_t i = 0; i < q; ++i)
    for (int comp = 0; comp < 3; ++comp) {
      double s = gamma[3 * i + comp];
      for (std::size_t j = 0; j < q; ++j) s += g[i * q + j] * gamma[3 * j + comp];
      eta[3 * i + comp] += s;
    }
  fit.weights = alpha;
  for (std::size_t i = 0; i < q; ++i)  // xi[i] is centre i
    for (int comp = 0; comp < 3; ++comp) fit.weights[3 * i + comp] -= gamma[3 * i + comp];
  fit.coefficients.assign(3 * q, 0.0);
  for (std::size_t p = 0; p < q; ++p)
    for (std::size_t i = 0; i < q; ++i)
      for (int comp = 0; comp < 3; ++comp)
        fit.coefficients[3 * p + comp] += vd_inv[p * q + i] * eta[3 * i + comp];
  for (std::size_t i = 0; i < n; ++i) {
    const double* r = &res[3 * i];
    fit.max_error = std::max(fit.max_error, std::sqrt(r[0] * r[0] + r[1] * r[1] + r[2] * r[2]));
  }
  return fit;
}

}  // namespace velk::toolkit
