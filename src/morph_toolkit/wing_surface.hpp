// A closed wing surface for shape optimisation: a four-digit NACA section with cosine chordwise
// spacing, swept, tapered and twisted along a span of several stations, closed at both tips,
// every triangle wound outward, one node per point.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace velk::toolkit {

struct WingShape {
  double maximum_camber = 0;      // first digit: percent of the chord
  double camber_distance = 0;     // second digit: tenths of the chord
  double maximum_thickness = 12;  // last two digits: percent of the chord
  std::size_t chord_points = 24;  // chord intervals per surface (upper and lower)
  std::size_t span_stations = 9;  // sections from root (z = 0) to tip (z = span)
  double span = 4;
  double root_chord = 1;
  double taper = 1;  // tip chord / root chord
  double sweep = 0;  // leading-edge sweep, degrees
  double twist = 0;  // tip twist, degrees, nose up, linear from 0 at the root, about 1/4 chord
};

struct WingSurface {
  std::vector<double> points;      // (M, 3): x along the chord, y up, z along the span
  std::vector<int64_t> triangles;  // (K, 3)
};

// Each section is a ring of 2·chord_points points: the trailing edge, the upper surface to the
// leading edge, then the lower surface back. Throws InvalidInput for fewer than 2 chord points
// or span stations, a thickness that is not positive, or a chord that is not positive.
WingSurface wing_surface(const WingShape& shape);

}  // namespace velk::toolkit
