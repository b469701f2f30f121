// The RBF interpolator: a pure kernel sum from 3-D points to 3-D values, fitted by one dense
// solve with Point3 right-hand sides (no polynomial term, no smoothing).
#pragma once

#include <expected>
#include <string>

#include "interp/rbf_kernels.hpp"

namespace velk::interp {

struct RbfModel {
  NodeList centres;
  NodeList values;
  NodeList weights;  // one weight triple per centre
  RbfKernel kernel;
  double epsilon;
};

// Solves K·W = values for the kernel matrix K of the centres. Centres and values of different
// lengths are an internal failure ("x and y must have the same length"); a solver failure
// message is returned unchanged.
std::expected<RbfModel, std::string> fit(const NodeList& centres, const NodeList& values,
                                         RbfKernel kernel, double epsilon);

// The weighted kernel sum at each query, in order; stops at the first query whose sum holds a
// NaN with "NaN values in output".
std::expected<NodeList, std::string> predict(const RbfModel& model, const NodeList& queries);

}  // namespace velk::interp
