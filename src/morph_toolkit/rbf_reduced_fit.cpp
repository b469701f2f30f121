// The reduced fit of the displacement morph: centres selected greedily among the controls (on
// the kernel's vector lanes), then a Wendland C2 correction of small support that interpolates
// the error left at every control, so each control still receives its displacement.
#include <algorithm>
#include <cmath>

#include "morph_toolkit/greedy_selection.hpp"
#include "morph_toolkit/rbf_lanes.hpp"
#include "morph_toolkit/rbf_morph.hpp"

namespace velk::toolkit {

namespace rbf_reduced_detail {

// The selection's Newton basis holds N values per centre; this bounds it (768 MiB: 10^5
// controls can have about 1000 centres), keeping a whole reduced fit within 1 GiB.
constexpr std::size_t kBasisBytes = std::size_t{768} << 20;
// The correction's support radius: the median, over up to kSamples controls spread through
// the list, of the distance to the kNeighbours-th nearest other control, so each correction
// row has about that many neighbours whatever the controls' spacing.
constexpr std::size_t kNeighbours = 16, kSamples = 256;

double support_radius_for(const std::vector<double>& c) {
  const std::size_t n = c.size() / 3;
  if (n < 2) return 1.0;
  const std::size_t samples = std::min(n, kSamples), step = n / samples;
  const std::size_t rank = std::min(kNeighbours, n - 1);
  std::vector<double> radii(samples), d2(n);
  for (std::size_t s = 0; s < samples; ++s) {
    const double* p = &c[3 * s * step];
    for (std::size_t j = 0; j < n; ++j) {
      const double dx = c[3 * j] - p[0], dy = c[3 * j + 1] - p[1], dz = c[3 * j + 2] - p[2];
      d2[j] = dx * dx + dy * dy + dz * dz;  // includes the sample itself, at 0
    }
    std::nth_element(d2.begin(), d2.begin() + rank, d2.end());
    radii[s] = std::sqrt(d2[rank]);
  }
  std::nth_element(radii.begin(), radii.begin() + samples / 2, radii.end());
  return radii[samples / 2];
}

}  // namespace rbf_reduced_detail

namespace rbf_morph_detail {

std::shared_ptr<const RbfMorph> correction_morph(const RbfState& state) {
  RbfState c;
  c.kernel = Kernel::wendland_c2;
  c.epsilon = state.correction_epsilon;
  c.degree = -1;
  c.centres = state.centres;
  c.displacements.assign(state.centres.size(), 0.0);  // not kept: only the weights evaluate
  c.weights = state.correction_weights;
  return std::make_shared<const RbfMorph>(RbfMorph::restore(std::move(c)));
}

}  // namespace rbf_morph_detail

RbfMorph RbfMorph::fit_reduced(RbfState state, const PolynomialBasis& basis, double tolerance,
                               const ProgressSpan& progress) {
  using namespace rbf_reduced_detail;
  const std::size_t n = state.centres.size() / 3;
  const Kernel kernel = state.kernel;
  const double e2 = state.epsilon * state.epsilon;
  // The controls by coordinate, padded so that any range can be read in whole lanes.
  const lanes::PaddedColumns columns(state.centres.data(), n, lanes::round_up(n) + lanes::kWidth);
  const std::vector<double>&cx = columns.x, &cy = columns.y, &cz = columns.z;
  GreedyInput in;
  in.controls = state.centres;
  in.displacements = state.displacements;
  in.basis = basis;
  in.tolerance = tolerance;
  in.memory_limit = kBasisBytes;
  in.kernel = [&](const double* p, std::size_t first, std::size_t last, double* out) {
    const std::size_t count = last - first, padded = lanes::round_up(count);
    std::vector<double> row(padded);
    lanes::phi_row(kernel, p[0], p[1], p[2], &cx[first], &cy[first], &cz[first], padded, e2,
                   row.data());
    std::copy_n(row.data(), count, out);
  };
  // Half of the progress to the selection, the rest to the error left and its correction.
  const ProgressSpan selecting = progress.part(0.0, 0.5);
  if (selecting.active()) in.progress = [&](double fraction) { selecting.at(fraction); };
  GreedyFit greedy = greedy_fit(in);
  selecting.at(1.0);

  state.selected = std::move(greedy.centres);
  state.weights = std::move(greedy.weights);
  state.coefficients = std::move(greedy.coefficients);
  RbfMorph morph(std::move(state));
  morph.prepare_evaluation();
  RbfState& s = morph.state_;

  // The error left at every control, as evaluation gives it, then its correction.
  std::vector<double> residual(3 * n);
  morph.main_displacement(s.centres.data(), n, residual.data());
  double largest = 0.0;
  for (std::size_t i = 0; i < n; ++i) {
    double* r = &residual[3 * i];
    for (int k = 0; k < 3; ++k) r[k] = s.displacements[3 * i + k] - r[k];
    largest = std::max(largest, std::sqrt(r[0] * r[0] + r[1] * r[1] + r[2] * r[2]));
  }
  s.max_error = largest;
  progress.at(0.55);
  if (largest > 0.0) {
    const double radius = support_radius_for(s.centres);
    RbfMorph correction =
        RbfMorph::fit_within(s.centres.data(), n, residual.data(), n, Kernel::wendland_c2,
                             1.0 / radius, -1, std::nullopt, progress.part(0.55, 1.0));
    s.correction_epsilon = 1.0 / radius;
    s.correction_weights = correction.state().weights;
    morph.correction_ = std::make_shared<const RbfMorph>(std::move(correction));
  }
  progress.at(1.0);
  return morph;
}

}  // namespace velk::toolkit
