// The radial basis kernels (all functions of the squared distance) and the kernel matrix.
#include "interp/rbf_kernels.hpp"

#include <cmath>

#include "core/checked_size.hpp"

namespace velk::interp {

namespace {

double gaussian(double s, double e) {
  return std::exp((s * -0.5) / (e * e));
}
double multiquadric(double s, double e) {
  return std::sqrt(e * e + s);
}
double inverse_multiquadratic(double s, double e) {
  return 1.0 / std::sqrt(e * e + s);
}
double linear(double s, double) {
  return s;
}
double cubic(double s, double) {
  return s * s;
}
double thin_plate_spline(double s, double) {
  return s == 0.0 ? 0.0 : std::log(s) * (s * s);
}

// Refuses an n × n matrix of doubles whose two copies (the kernel matrix and the solver's
// factorised copy) cannot fit in memory, so a huge request fails cleanly before any work.
void check_matrix_size(std::size_t n) {
  sizes::require_memory(sizes::mul(2, sizes::bytes(sizes::mul(n, n), sizeof(double))));
}

}  // namespace

std::optional<RbfKernel> kernel_by_name(std::string_view name) {
  if (name == "gaussian") return gaussian;
  if (name == "multiquadric") return multiquadric;
  if (name == "inverse_multiquadratic") return inverse_multiquadratic;
  if (name == "linear") return linear;
  if (name == "cubic") return cubic;
  if (name == "thin_plate_spline") return thin_plate_spline;
  return std::nullopt;
}

DenseMatrix kernel_matrix(const NodeList& points, RbfKernel kernel, double epsilon) {
  const std::size_t n = points.size();
  check_matrix_size(n);
  DenseMatrix k;
  k.reserve(n);
  for (std::size_t i = 0; i < n; ++i) {
    std::vector<double> row(n);
    for (std::size_t j = 0; j < n; ++j)
      row[j] = kernel(clamped_squared_distance(points[i], points[j]), epsilon);
    k.push_back(std::move(row));
  }
  return k;
}

}  // namespace velk::interp
