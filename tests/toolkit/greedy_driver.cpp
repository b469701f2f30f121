// Runs a greedy fit read from standard input and prints what it chose and its values.
// Input: kernel epsilon degree tolerance memory_limit, N, N rows of controls and
// displacements (6 numbers), M, M query rows. Output: the centres, max_error, whether the
// selection stopped early, the fit at the queries, and the residual at the controls.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <iostream>
#include <string>
#include <vector>

#include "morph_toolkit/errors.hpp"
#include "morph_toolkit/greedy_selection.hpp"

using namespace velk::toolkit;

double phi(const std::string& name, double r) {
  if (name == "linear") return -r;
  if (name == "thin_plate_spline") return r == 0.0 ? 0.0 : r * r * std::log(r);
  if (name == "cubic") return r * r * r;
  if (name == "quintic") return -r * r * r * r * r;
  if (name == "gaussian") return std::exp(-r * r);
  if (name == "inverse_multiquadric") return 1.0 / std::sqrt(1.0 + r * r);
  if (name == "wendland_c2") return r < 1.0 ? std::pow(1.0 - r, 4) * (4.0 * r + 1.0) : 0.0;
  throw InvalidInput("unknown kernel " + name);
}

// s(x) of the fit at x: its kernel expansion over the centres plus its polynomial.
void evaluate(const GreedyFit& fit, const GreedyInput& in, const std::string& kernel,
              double epsilon, const double* x, double* out) {
  out[0] = out[1] = out[2] = 0.0;
  for (std::size_t j = 0; j < fit.centres.size(); ++j) {
    const double* c = in.controls.data() + 3 * fit.centres[j];
    const double r = std::hypot(x[0] - c[0], x[1] - c[1], x[2] - c[2]);
    for (int k = 0; k < 3; ++k) out[k] += fit.weights[3 * j + k] * phi(kernel, epsilon * r);
  }
  double m[10];
  in.basis.values(x[0], x[1], x[2], m);
  for (int t = 0; t < in.basis.terms(); ++t)
    for (int k = 0; k < 3; ++k) out[k] += fit.coefficients[3 * t + k] * m[t];
}

int main() {
  std::string kernel;
  GreedyInput in;
  double epsilon = 1.0;
  std::size_t n = 0, m = 0;
  std::cin >> kernel >> epsilon >> in.basis.degree >> in.tolerance >> in.memory_limit >> n;
  std::vector<double> controls(3 * n), moves(3 * n);
  for (std::size_t i = 0; i < n; ++i)
    std::cin >> controls[3 * i] >> controls[3 * i + 1] >> controls[3 * i + 2] >> moves[3 * i] >>
        moves[3 * i + 1] >> moves[3 * i + 2];
  std::cin >> m;
  std::vector<double> queries(3 * m);
  for (double& v : queries) std::cin >> v;
  in.controls = controls;
  in.displacements = moves;
  for (int a = 0; a < 3 && n > 0; ++a) {  // the bounding box's centre and half-widths
    double lo = controls[a], hi = controls[a];
    for (std::size_t i = 1; i < n; ++i)
      lo = std::min(lo, controls[3 * i + a]), hi = std::max(hi, controls[3 * i + a]);
    in.basis.shift[a] = (lo + hi) / 2;
    in.basis.scale[a] = hi > lo ? (hi - lo) / 2 : 1.0;
  }
  in.kernel = [&](const double* p, std::size_t first, std::size_t last, double* out) {
    for (std::size_t i = first; i < last; ++i) {
      const double* c = controls.data() + 3 * i;
      out[i - first] = phi(kernel, epsilon * std::hypot(p[0] - c[0], p[1] - c[1], p[2] - c[2]));
    }
  };
  try {
    const GreedyFit fit = greedy_fit(in);
    std::vector<double> residual(3 * n);
    double max_error = 0.0;
    for (std::size_t i = 0; i < n; ++i) {
      double s[3];
      evaluate(fit, in, kernel, epsilon, &controls[3 * i], s);
      for (int k = 0; k < 3; ++k) residual[3 * i + k] = moves[3 * i + k] - s[k];
      max_error = std::max(max_error,
                           std::hypot(residual[3 * i], residual[3 * i + 1], residual[3 * i + 2]));
    }
    std::printf("centres");
    for (auto c : fit.centres) std::printf(" %lld", static_cast<long long>(c));
    std::printf("\nmax_error %.17g\nstopped %d\nrunning_error %.17g\n", max_error,
                fit.stopped_early ? 1 : 0, fit.max_error);
    for (std::size_t i = 0; i < m; ++i) {
      double s[3];
      evaluate(fit, in, kernel, epsilon, &queries[3 * i], s);
      std::printf("value %.17g %.17g %.17g\n", s[0], s[1], s[2]);
    }
    for (std::size_t i = 0; i < n; ++i)
      std::printf("residual %.17g %.17g %.17g\n", residual[3 * i], residual[3 * i + 1],
                  residual[3 * i + 2]);
  } catch (const InvalidInput& e) {
    std::printf("InvalidInput %s\n", e.what());
  } catch (const MemoryRefusal& e) {
    std::printf("MemoryRefusal %s\n", e.what());
  }
}
