// Inverse distance weighting of displacements: s(x) = sum_i w_i d_i / sum_i w_i with
// w_i = |x - c_i|^-power, and s(c_i) = d_i exactly. No system to solve; an evaluation costs
// one pass over the controls per point, vectorised across points and spread over the pool.
#pragma once

#include <cstddef>
#include <span>
#include <vector>

#include "morph_toolkit/exact_points.hpp"
#include "morph_toolkit/progress.hpp"

namespace velk::toolkit {

class IdwMorph {
 public:
  // controls and displacements: flat (N, 3) rows, N >= 1, finite (checked by the caller).
  // Throws InvalidInput when power is not a positive finite number, N is 0, the lengths differ
  // or two controls coincide (naming both rows).
  IdwMorph(std::vector<double> controls, std::vector<double> displacements, double power);

  std::size_t size() const { return controls_.size() / 3; }
  double power() const { return power_; }
  const std::vector<double>& controls() const { return controls_; }
  const std::vector<double>& displacements() const { return displacements_; }

  // s(x) for every row of `points` (flat (M, 3), finite), as flat (M, 3) rows. Progress counts
  // points. The bits do not depend on the thread count.
  std::vector<double> displacement(std::span<const double> points,
                                   const ProgressCallback* progress = nullptr) const;
  // points + displacement(points), row by row.
  std::vector<double> deform(std::span<const double> points,
                             const ProgressCallback* progress = nullptr) const;

 private:
  std::vector<double> controls_, displacements_;
  double power_;
  ExactPointIndex index_;
  // The controls and their displacements as six columns (x, y, z, dx, dy, dz) of size() each.
  std::vector<double> columns_;
  // 2 * power when it is a whole number up to kMaxHalfSteps (the weight is then built from
  // divisions, square roots and products), else 0 (std::pow per pair).
  int half_steps_;
};

}  // namespace velk::toolkit
