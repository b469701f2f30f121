// The VectorN operations of the dense solver.
#include "interp/solver_vectors.hpp"

#include <algorithm>

namespace velk::interp {

VectorN scaled(const VectorN& v, double s) {
  VectorN out{std::vector<double>(v.values.size())};
  for (std::size_t i = 0; i < v.values.size(); ++i) out.values[i] = v.values[i] * s;
  return out;
}

void add_assign(VectorN& a, const VectorN& b) {
  const std::size_t n = std::min(a.values.size(), b.values.size());
  for (std::size_t i = 0; i < n; ++i) a.values[i] += b.values[i];
}

VectorN subtract(const VectorN& a, const VectorN& b) {
  const std::size_t n = std::min(a.values.size(), b.values.size());
  VectorN out{std::vector<double>(n)};
  for (std::size_t i = 0; i < n; ++i) out.values[i] = a.values[i] - b.values[i];
  return out;
}

VectorN divided(const VectorN& v, double s) {
  VectorN out{std::vector<double>(v.values.size())};
  for (std::size_t i = 0; i < v.values.size(); ++i) out.values[i] = v.values[i] / s;
  return out;
}

bool has_nan(const VectorN& v) {
  return std::any_of(v.values.begin(), v.values.end(), [](double x) { return std::isnan(x); });
}

}  // namespace velk::interp
