// Fitting and evaluating the RBF interpolant.
#include "interp/rbf.hpp"

#include "core/internal_failure.hpp"

namespace velk::interp {

std::expected<RbfModel, std::string> fit(const NodeList& centres, const NodeList& values,
                                         RbfKernel kernel, double epsilon) {
  if (centres.size() != values.size()) internal_failure("x and y must have the same length");
  DenseMatrix k = kernel_matrix(centres, kernel, epsilon);
  auto weights = solve_linear_system(k, values);
  if (!weights) return std::unexpected(std::move(weights.error()));
  return RbfModel{centres, values, std::move(*weights), kernel, epsilon};
}

std::expected<NodeList, std::string> predict(const RbfModel& model, const NodeList& queries) {
  NodeList out;
  out.reserve(queries.size());
  const std::size_t n = model.centres.size();
  for (const Point3& q : queries) {
    Point3 sum{0.0, 0.0, 0.0};
    for (std::size_t j = 0; j < n; ++j) {
      const double phi = model.kernel(clamped_squared_distance(q, model.centres[j]), model.epsilon);
      const Point3& w = model.weights[j];
      sum.x += phi * w.x;
      sum.y += phi * w.y;
      sum.z += phi * w.z;
    }
    if (has_nan(sum)) return std::unexpected<std::string>("NaN values in output");
    out.push_back(sum);
  }
  return out;
}

}  // namespace velk::interp
