// The set of kernels the RBF fit, the dense solve and the prediction run through, chosen once
// per process: the vectorised, parallel ones, or the one-at-a-time reference loops they
// replaced (reference_kernels.hpp) when the environment variable VELK_REFERENCE_KERNELS is "1",
// an internal switch for the tests that compare the two bit for bit. Callers take the set once
// per call and never test the switch inside their loops.
#pragma once

#include <expected>
#include <string>

#include "interp/dense_solver.hpp"
#include "interp/rbf_interpolator.hpp"

namespace velk::interp {

struct KernelSet {
  RowMatrix (*kernel_matrix)(const NodeList& points, RbfKernel kernel, double epsilon);
  std::expected<LuFactors, std::string> (*lu_decompose)(RowMatrix matrix);
  std::expected<NodeList, std::string> (*predict)(const RbfModel& model, const NodeList& queries);
};

const KernelSet& kernels();

}  // namespace velk::interp
