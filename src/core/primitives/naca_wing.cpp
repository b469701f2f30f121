// generate_naca_wing: a NACA 4-digit section at even chord stations from the trailing edge to
// the leading edge, upper side then lower side, extruded between two span positions. The
// surface stays open at the span ends and along the leading edge, where the upper and lower
// leading-edge points coincide but are separate nodes.
#include <cmath>
#include <cstdint>
#include <vector>

#include "core/primitives.hpp"
#include "core/primitives/mesh_storage.hpp"

namespace velk {

namespace {

struct SectionPoint {
  double x, y;
};

struct Section {
  std::vector<SectionPoint> upper, lower;  // one entry per station, trailing edge first
};

// Upper and lower surface points at the stations x = i/n, i = n down to 0.
Section naca_section(double maximum_camber, double camber_distance, double maximum_thickness,
                     uint64_t n) {
  const double m = maximum_camber * 0.01;
  const double p = camber_distance * 0.1;
  const double f = maximum_thickness * 0.01 * 5.0;
  Section section;
  section.upper.reserve(n + 1);
  section.lower.reserve(n + 1);
  for (uint64_t step = 0; step <= n; ++step) {
    const uint64_t i = n - step;
    const double x = static_cast<double>(i) / static_cast<double>(n);
    const double x2 = x * x, x3 = x * x2, x4 = x2 * x2;
    // −0.1036 rather than −0.1015 closes the trailing edge.
    const double yt =
        ((((std::sqrt(x) * 0.2969 + x * -0.126) + x2 * -0.3516) + x3 * 0.2843) + x4 * -0.1036) * f;
    double yc = 0.0, slope = 0.0;
    if (p == 0.0) {
      // A symmetric section, whatever the camber.
    } else if (x <= p) {
      const double k = m / (p * p);
      yc = (2.0 * p - x) * (k * x);
      slope = (2.0 * p - 2.0 * x) * k;
    } else {
      const double k = m / ((1.0 - p) * (1.0 - p));
      yc = (1.0 - x) * (((1.0 - 2.0 * p) + x) * k);
      slope = (2.0 * p - 2.0 * x) * k;
    }
    const double theta = std::atan(slope);
    const double sin_t = std::sin(theta), cos_t = std::cos(theta);
    section.upper.push_back({x - sin_t * yt, yc + yt * cos_t});
    section.lower.push_back({x + sin_t * yt, yc - yt * cos_t});
  }
  return section;
}

}  // namespace

Result<Mesh> generate_naca_wing(double maximum_camber, double camber_distance,
                                double maximum_thickness, uint64_t n_points,
                                std::pair<double, double> wing_span) {
  // With no chord interval the only station would be x = 0/0: there is no section to extrude.
  if (n_points == 0)
    return fail_with(Error::mesh_generation("Number of points must be 1 or more."));
  const uint64_t n = n_points;
  const uint64_t stations = sizes::add(n, 1);
  const uint64_t node_count = sizes::add(sizes::mul(4, n), 2);
  const uint64_t cell_count = sizes::mul(4, n);
  Mesh mesh = primitives::reserve_mesh(node_count, cell_count,
                                       sizes::bytes(stations, 2 * sizeof(SectionPoint)));
  const Section section = naca_section(maximum_camber, camber_distance, maximum_thickness, n);

  // Profile: the upper points, then the lower points without the lower trailing-edge point.
  const auto [z0, z1] = wing_span;
  auto add_profile_point = [&](const SectionPoint& s) {
    mesh.nodes.push_back({s.x, s.y, z0});
    mesh.nodes.push_back({s.x, s.y, z1});
  };
  for (const SectionPoint& s : section.upper) add_profile_point(s);
  for (uint64_t i = 1; i <= n; ++i) add_profile_point(section.lower[i]);

  // The quad between profile points k and k2 as the cells (2k, 2k2, 2k+1), (2k2+1, 2k+1, 2k2).
  auto quad = [&](uint64_t k, uint64_t k2) {
    mesh.cells.push_back({2 * k, 2 * k2, 2 * k + 1});
    mesh.cells.push_back({2 * k2 + 1, 2 * k + 1, 2 * k2});
  };
  for (uint64_t k = 0; k < n; ++k) quad(k, k + 1);
  for (uint64_t k = n + 1; k + 1 <= 2 * n; ++k) {
    mesh.cells.push_back({2 * k, 2 * k + 1, 2 * k + 2});
    mesh.cells.push_back({2 * k + 3, 2 * k + 2, 2 * k + 1});
  }
  quad(n + 1, 0);
  return mesh;
}

}  // namespace velk
