// The RBF interpolator: a pure kernel sum from 3-D points to 3-D values, fitted by one dense
// solve with Point3 right-hand sides (no polynomial term, no smoothing).
#pragma once

#include <expected>
#include <optional>
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

// A fit whose interpolant misses a control value by more than this times the values' spread
// is refused as singular. Sound fits miss by rounding only: up to about 4e-5 for thousands of
// gaussian centres in a dense cloud, whose matrices are nearly singular; the "linear" and
// "cubic" kernels (whose matrices have a rank of at most 5 and 35 in three dimensions) miss by
// a tenth of the spread and more.
inline constexpr double kFitTolerance = 1e-3;

// Why a fitted model cannot be trusted: the message naming the control point it misses most
// when that miss is beyond rounding, otherwise none.
std::optional<std::string> control_miss(const RbfModel& model);

// The weighted kernel sum at each query, in order; stops at the first query whose sum holds a
// NaN with "NaN values in output".
std::expected<NodeList, std::string> predict(const RbfModel& model, const NodeList& queries);

}  // namespace velk::interp
