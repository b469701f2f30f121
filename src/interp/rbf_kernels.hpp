// The six radial basis kernels by name, the clamped squared distance they are evaluated on,
// and the kernel matrix between a set of points.
#pragma once

#include <optional>
#include <string_view>

#include "core/point.hpp"
#include "interp/linear_algebra.hpp"

namespace velk::interp {

// A kernel of the clamped squared distance s and the shape parameter epsilon.
using RbfKernel = double (*)(double s, double epsilon);

// The kernel of an exact, case-sensitive name: "gaussian", "multiquadric",
// "inverse_multiquadratic", "linear", "cubic" or "thin_plate_spline"; absent for any other.
std::optional<RbfKernel> kernel_by_name(std::string_view name);

// max((dx² + dy²) + dz², EPS), a NaN sum also becoming EPS: a kernel never sees s = 0.
inline double clamped_squared_distance(const Point3& p, const Point3& q) {
  const double dx = p.x - q.x, dy = p.y - q.y, dz = p.z - q.z;
  const double s = (dx * dx + dy * dy) + dz * dz;
  return s > EPS ? s : EPS;
}

// Row i is [kernel(s(points[i], points[j]), epsilon) for every j], built serially. An n too
// large for memory throws std::bad_alloc before anything is allocated.
DenseMatrix kernel_matrix(const NodeList& points, RbfKernel kernel, double epsilon);

}  // namespace velk::interp
