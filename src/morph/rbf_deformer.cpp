// Construction (kernel choice, standardisation, fit) and deformation of the RBF deformer.
#include "morph/rbf_deformer.hpp"

#include <cmath>

#include "core/internal_failure.hpp"
#include "interp/kernel_set.hpp"

namespace velk::morph {

namespace {

// An axis whose spread falls below this is constant: its spread is kept at 1.0.
constexpr double kMinSpread = 1e-8;

struct AxisStats {
  double mean;
  double spread;  // population standard deviation, before the constant-axis rule
};

// Mean and population standard deviation of one axis, each sum in index order.
AxisStats axis_stats(const NodeList& points, int a) {
  const double n = static_cast<double>(points.size());
  double sum = 0.0;
  for (const Point3& p : points) sum += axis(p, a);
  const double mean = sum / n;
  double squares = 0.0;
  for (const Point3& p : points) {
    const double d = axis(p, a) - mean;
    squares += d * d;
  }
  return {mean, std::sqrt(squares / n)};
}

}  // namespace

Result<RbfDeformer> RbfDeformer::create(const NodeList& original, const NodeList& deformed,
                                        const std::optional<std::string>& kernel_name,
                                        std::optional<double> epsilon) {
  if (original.size() != deformed.size())
    internal_failure("x and y must have the same length (got " + std::to_string(original.size()) +
                     " and " + std::to_string(deformed.size()) + ")");
  const std::string name = kernel_name.value_or("gaussian");
  const auto kernel = interp::kernel_by_name(name);
  if (!kernel) return fail_with(Error::deformation("Unsupported kernel: " + name));

  RbfDeformer d;
  for (int a = 0; a < 3; ++a) {
    const AxisStats in = axis_stats(original, a);
    axis(d.in_mean_, a) = in.mean;
    axis(d.in_std_, a) = in.spread < kMinSpread ? 1.0 : in.spread;
    const AxisStats out = axis_stats(deformed, a);
    axis(d.out_mean_, a) = out.mean;
    if (out.spread < kMinSpread) {
      d.constant_dims_.push_back(a);
      axis(d.out_std_, a) = 1.0;
    } else {
      axis(d.out_std_, a) = out.spread;
    }
  }

  NodeList centres(original.size()), values(deformed.size());
  for (std::size_t i = 0; i < original.size(); ++i) {
    for (int a = 0; a < 3; ++a) {
      axis(centres[i], a) = (axis(original[i], a) - axis(d.in_mean_, a)) / axis(d.in_std_, a);
      axis(values[i], a) =
          d.is_constant(a) ? 0.0
                           : (axis(deformed[i], a) - axis(d.out_mean_, a)) / axis(d.out_std_, a);
    }
  }

  auto model = interp::fit(centres, values, *kernel, epsilon.value_or(1.0));
  if (!model) return fail_with(Error::deformation("Failed to create RBF: " + model.error()));
  d.model_ = std::move(*model);
  return d;
}

Result<NodeList> RbfDeformer::deform(const NodeList& points) const {
  NodeList queries(points.size());
  for (std::size_t i = 0; i < points.size(); ++i)
    for (int a = 0; a < 3; ++a)
      axis(queries[i], a) = (axis(points[i], a) - axis(in_mean_, a)) / axis(in_std_, a);

  auto predicted = interp::kernels().predict(model_, queries);
  if (!predicted) return fail_with(Error::deformation("Prediction failed: " + predicted.error()));

  NodeList& out = *predicted;
  for (Point3& r : out)
    for (int a = 0; a < 3; ++a)
      axis(r, a) =
          is_constant(a) ? axis(out_mean_, a) : axis(r, a) * axis(out_std_, a) + axis(out_mean_, a);
  return std::move(out);
}

bool RbfDeformer::is_constant(int a) const {
  for (int c : constant_dims_)
    if (c == a) return true;
  return false;
}

}  // namespace velk::morph
