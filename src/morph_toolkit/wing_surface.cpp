// The wing surface: sections, side strips between them and the two tip caps.
#include "morph_toolkit/wing_surface.hpp"

#include <cmath>
#include <numbers>
#include <string>

#include "morph_toolkit/errors.hpp"

namespace velk::toolkit {

namespace {

struct Section2 {
  std::vector<double> x, y;  // the ring of one unit-chord section
};

// Upper points from the trailing edge to the leading edge at cosine-spaced stations, then the
// lower points from the first station behind the leading edge back to the last before the
// trailing edge. The trailing edge is one point (the thickness closes there).
Section2 naca_ring(const WingShape& s) {
  const double m = s.maximum_camber * 0.01, p = s.camber_distance * 0.1,
               f = s.maximum_thickness * 0.01 * 5.0;
  const std::size_t n = s.chord_points;
  std::vector<double> xu(n + 1), yu(n + 1), xl(n + 1), yl(n + 1);
  for (std::size_t i = 0; i <= n; ++i) {
    // Station i from the trailing edge (x = 1) to the leading edge (x = 0).
    const double x =
        0.5 * (1.0 + std::cos(std::numbers::pi * static_cast<double>(i) / static_cast<double>(n)));
    const double x2 = x * x;
    double yt =
        (std::sqrt(x) * 0.2969 - 0.126 * x - 0.3516 * x2 + 0.2843 * x2 * x - 0.1036 * x2 * x2) * f;
    if (i == 0 || i == n) yt = 0.0;
    double yc = 0.0, slope = 0.0;
    if (p > 0.0 && x <= p) {
      yc = (m / (p * p)) * (2.0 * p * x - x2);
      slope = (m / (p * p)) * (2.0 * p - 2.0 * x);
    } else if (p > 0.0) {
      yc = (m / ((1 - p) * (1 - p))) * ((1.0 - 2.0 * p) + 2.0 * p * x - x2);
      slope = (m / ((1 - p) * (1 - p))) * (2.0 * p - 2.0 * x);
    }
    const double theta = std::atan(slope);
    xu[i] = x - std::sin(theta) * yt, yu[i] = yc + yt * std::cos(theta);
    xl[i] = x + std::sin(theta) * yt, yl[i] = yc - yt * std::cos(theta);
  }
  Section2 ring;
  for (std::size_t i = 0; i <= n; ++i) ring.x.push_back(xu[i]), ring.y.push_back(yu[i]);
  for (std::size_t i = n - 1; i >= 1; --i) ring.x.push_back(xl[i]), ring.y.push_back(yl[i]);
  return ring;
}

}  // namespace

WingSurface wing_surface(const WingShape& s) {
  if (s.chord_points < 2) throw InvalidInput("chord_points must be at least 2");
  if (s.span_stations < 2) throw InvalidInput("span_stations must be at least 2");
  if (!(s.maximum_thickness > 0.0)) throw InvalidInput("the section must have a thickness");
  if (!(s.root_chord > 0.0) || !(s.root_chord * s.taper > 0.0))
    throw InvalidInput("root_chord and taper must give positive chords");
  if (!(s.span > 0.0)) throw InvalidInput("span must be positive");
  const Section2 ring = naca_ring(s);
  const std::size_t n = s.chord_points, r = ring.x.size(), stations = s.span_stations;
  const double degree = std::numbers::pi / 180.0;
  WingSurface w;
  w.points.reserve(3 * r * stations);
  for (std::size_t j = 0; j < stations; ++j) {
    const double t = static_cast<double>(j) / static_cast<double>(stations - 1);
    const double z = s.span * t;
    const double chord = s.root_chord * (1.0 + (s.taper - 1.0) * t);
    const double lead = z * std::tan(s.sweep * degree);
    // Nose up: the leading edge rises, a turn by -twist about the quarter chord.
    const double angle = -s.twist * t * degree, c = std::cos(angle), sn = std::sin(angle);
    for (std::size_t k = 0; k < r; ++k) {
      const double x = (ring.x[k] - 0.25) * chord, y = ring.y[k] * chord;
      w.points.insert(w.points.end(), {lead + 0.25 * chord + c * x - sn * y, sn * x + c * y, z});
    }
  }
  const auto node = [&](std::size_t j, std::size_t k) { return static_cast<int64_t>(j * r + k); };
  const auto triangle = [&](int64_t a, int64_t b, int64_t c) {
    w.triangles.insert(w.triangles.end(), {a, b, c});
  };
  // Sides: the ring runs counter-clockwise seen from the tip, so (a, b, c) below faces out.
  for (std::size_t j = 0; j + 1 < stations; ++j)
    for (std::size_t k = 0; k < r; ++k) {
      const std::size_t k1 = (k + 1) % r;
      triangle(node(j, k), node(j, k1), node(j + 1, k));
      triangle(node(j + 1, k1), node(j + 1, k), node(j, k1));
    }
  // Tips: strips between the upper and lower point of each chord station (ring positions i and
  // r - i); the tip faces +z in ring order, the root -z in reverse order.
  const auto cap = [&](std::size_t j, bool outward_plus_z) {
    const auto tri = [&](std::size_t a, std::size_t b, std::size_t c) {
      if (outward_plus_z)
        triangle(node(j, a), node(j, b), node(j, c));
      else
        triangle(node(j, a), node(j, c), node(j, b));
    };
    const auto lower = [&](std::size_t i) { return i == 0 ? 0 : r - i; };
    for (std::size_t i = 0; i < n; ++i) {
      if (i + 1 < n) tri(i, i + 1, lower(i + 1));
      if (i > 0) tri(i, lower(i + 1), lower(i));
    }
  };
  cap(0, false);
  cap(stations - 1, true);
  return w;
}

}  // namespace velk::toolkit
