// Names and properties of the radial kernels.
#include "morph_toolkit/rbf_kernel.hpp"

#include <array>
#include <utility>

namespace velk::toolkit {

namespace {

constexpr std::array<std::pair<std::string_view, Kernel>, 11> kKernelNames{{
    {"linear", Kernel::linear},
    {"thin_plate_spline", Kernel::thin_plate_spline},
    {"cubic", Kernel::cubic},
    {"quintic", Kernel::quintic},
    {"multiquadric", Kernel::multiquadric},
    {"inverse_multiquadric", Kernel::inverse_multiquadric},
    {"inverse_quadratic", Kernel::inverse_quadratic},
    {"gaussian", Kernel::gaussian},
    {"wendland_c0", Kernel::wendland_c0},
    {"wendland_c2", Kernel::wendland_c2},
    {"wendland_c4", Kernel::wendland_c4},
}};

}  // namespace

std::optional<Kernel> kernel_by_name(std::string_view name) {
  for (const auto& [n, k] : kKernelNames)
    if (n == name) return k;
  return std::nullopt;
}

std::string_view kernel_name(Kernel kernel) {
  for (const auto& [n, k] : kKernelNames)
    if (k == kernel) return n;
  return "?";
}

int minimum_degree(Kernel kernel) {
  switch (kernel) {
    case Kernel::linear:
    case Kernel::multiquadric:
      return 0;
    case Kernel::thin_plate_spline:
    case Kernel::cubic:
      return 1;
    case Kernel::quintic:
      return 2;
    default:
      return -1;
  }
}

bool is_compact(Kernel kernel) {
  return kernel == Kernel::wendland_c0 || kernel == Kernel::wendland_c2 ||
         kernel == Kernel::wendland_c4;
}

int default_degree(Kernel kernel) {
  if (is_compact(kernel)) return -1;
  return minimum_degree(kernel) < 0 ? 0 : minimum_degree(kernel);
}

int monomial_count(int degree) {
  switch (degree) {
    case 0:
      return 1;
    case 1:
      return 4;
    case 2:
      return 10;
    default:
      return 0;
  }
}

}  // namespace velk::toolkit
