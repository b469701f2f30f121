// The six radial basis kernels by name, the clamped squared distance they are evaluated on,
// and the kernel matrix between a set of points.
#pragma once

#include <cmath>
#include <optional>
#include <string_view>
#include <type_traits>

#include "core/constant_dispatch.hpp"
#include "core/point.hpp"
#include "interp/dense_solver.hpp"

namespace velk::interp {

// The kernels, each a function of the clamped squared distance s and the shape parameter.
enum class RbfKernel {
  gaussian,
  multiquadric,
  inverse_multiquadratic,
  linear,
  cubic,
  thin_plate_spline
};

// The kernel of an exact, case-sensitive name: "gaussian", "multiquadric",
// "inverse_multiquadratic", "linear", "cubic" or "thin_plate_spline"; absent for any other.
std::optional<RbfKernel> kernel_by_name(std::string_view name);

// The value of kernel K at s, written in two steps so that loops can run the first on vectors:
// prepare(s, e²) uses only correctly rounded operations (+, ×, /, sqrt), and finish applies the
// C library's scalar exp or log where the kernel has one (the identity otherwise). Together they
// are the kernel's formula, operation for operation.
template <RbfKernel K>
struct Kernel;

template <>
struct Kernel<RbfKernel::gaussian> {
  static constexpr bool has_finish = true;
  static double prepare(double s, double e2) { return (s * -0.5) / e2; }
  static double finish(double t) { return std::exp(t); }
};
template <>
struct Kernel<RbfKernel::multiquadric> {
  static constexpr bool has_finish = false;
  static double prepare(double s, double e2) { return std::sqrt(e2 + s); }
  static double finish(double t) { return t; }
};
template <>
struct Kernel<RbfKernel::inverse_multiquadratic> {
  static constexpr bool has_finish = false;
  static double prepare(double s, double e2) { return 1.0 / std::sqrt(e2 + s); }
  static double finish(double t) { return t; }
};
template <>
struct Kernel<RbfKernel::linear> {
  static constexpr bool has_finish = false;
  static double prepare(double s, double) { return s; }
  static double finish(double t) { return t; }
};
template <>
struct Kernel<RbfKernel::cubic> {
  static constexpr bool has_finish = false;
  static double prepare(double s, double) { return s * s; }
  static double finish(double t) { return t; }
};
template <>
struct Kernel<RbfKernel::thin_plate_spline> {
  static constexpr bool has_finish = true;
  static double prepare(double s, double) { return s; }
  static double finish(double s) { return s == 0.0 ? 0.0 : std::log(s) * (s * s); }
};

// Calls body(std::integral_constant<RbfKernel, K>{}) for the kernel K = kernel, so that the
// kernel is chosen once, outside the loops.
template <class F>
decltype(auto) with_kernel(RbfKernel kernel, F&& body) {
  using K = RbfKernel;
  return with_constant<K::gaussian, K::multiquadric, K::inverse_multiquadratic, K::linear, K::cubic,
                       K::thin_plate_spline>(kernel, std::forward<F>(body));
}

// kernel(s, epsilon) as one scalar function.
using KernelFunction = double (*)(double s, double epsilon);
KernelFunction kernel_function(RbfKernel kernel);

// max((dx² + dy²) + dz², EPS), a NaN sum also becoming EPS: a kernel never sees s = 0.
inline double clamped_squared_distance(const Point3& p, const Point3& q) {
  const Point3 d = p - q;
  const double s = dot(d, d);
  // The floor applies to numbers only: a NaN distance (a NaN coordinate) stays NaN, so the call
  // fails instead of treating the point as coinciding with every centre.
  return s < EPS ? EPS : s;
}

// Row i is [kernel(s(points[i], points[j]), epsilon) for every j]. s(p, q) and s(q, p) are the
// same double (p - q is exactly -(q - p)), so each pair is computed once and stored in both
// places; row blocks run on the worker pool. An n too large for memory throws std::bad_alloc
// before anything is allocated.
RowMatrix kernel_matrix(const NodeList& points, RbfKernel kernel, double epsilon);

}  // namespace velk::interp
