// Runs a greedy fit read from standard input and prints what it chose and its values.
// Input: kernel epsilon degree tolerance memory_limit, N, N rows of controls and
// displacements (6 numbers), M, M query rows. Output: the centres, max_error, whether the
// selection stopped early, the fit at the queries, and the residual at the controls.
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

int main() {
  std::string kernel;
  GreedyInput in;
  std::size_t n = 0, m = 0;
  std::cin >> kernel >> in.epsilon >> in.degree >> in.tolerance >> in.memory_limit >> n;
  std::vector<double> controls(3 * n), moves(3 * n);
  for (std::size_t i = 0; i < n; ++i)
    std::cin >> controls[3 * i] >> controls[3 * i + 1] >> controls[3 * i + 2] >> moves[3 * i] >>
        moves[3 * i + 1] >> moves[3 * i + 2];
  std::cin >> m;
  std::vector<double> queries(3 * m);
  for (double& v : queries) std::cin >> v;
  in.controls = controls;
  in.displacements = moves;
  in.kernel = [kernel](std::span<double> r) {
    for (double& v : r) v = phi(kernel, v);
  };
  try {
    const GreedyFit fit = greedy_fit(in);
    std::printf("centres");
    for (auto c : fit.centres) std::printf(" %lld", static_cast<long long>(c));
    std::printf("\nmax_error %.17g\nstopped %d\n", fit.max_error, fit.stopped_at_limit ? 1 : 0);
    const std::vector<double> s = evaluate_greedy_fit(fit, in, queries);
    for (std::size_t i = 0; i < m; ++i)
      std::printf("value %.17g %.17g %.17g\n", s[3 * i], s[3 * i + 1], s[3 * i + 2]);
    for (std::size_t i = 0; i < n; ++i)
      std::printf("residual %.17g %.17g %.17g\n", fit.residual[3 * i], fit.residual[3 * i + 1],
                  fit.residual[3 * i + 2]);
  } catch (const InvalidInput& e) {
    std::printf("InvalidInput %s\n", e.what());
  } catch (const MemoryRefusal& e) {
    std::printf("MemoryRefusal %s\n", e.what());
  }
}
