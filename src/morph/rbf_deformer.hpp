// The RBF deformer: moves points smoothly so that control points go exactly to their deformed
// positions, by RBF interpolation of absolute positions on per-axis standardised coordinates.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "core/error.hpp"
#include "core/point.hpp"
#include "interp/rbf_interpolator.hpp"

namespace velk::morph {

class RbfDeformer {
 public:
  // Fits the deformer. Lists of different lengths are an internal failure (checked before the
  // kernel name). An absent kernel means "gaussian", an absent epsilon 1.0 (not validated).
  // Fails with Deformation "Unsupported kernel: <name>" or "Failed to create RBF: <message>".
  static Result<RbfDeformer> create(const NodeList& original, const NodeList& deformed,
                                    const std::optional<std::string>& kernel,
                                    std::optional<double> epsilon);

  // The deformed position of every point, in order; fails with Deformation
  // "Prediction failed: NaN values in output".
  Result<NodeList> deform(const NodeList& points) const;

  // Output axes (0 = x, 1 = y, 2 = z) on which all deformed control points agree.
  const std::vector<int>& constant_dims() const { return constant_dims_; }

 private:
  RbfDeformer() = default;
  bool is_constant(int a) const;
  interp::RbfModel model_{};
  Point3 in_mean_, in_std_, out_mean_, out_std_;
  std::vector<int> constant_dims_;
};

}  // namespace velk::morph
