// Design variables of free-form deformation: a few scalars that move groups of lattice nodes by
// translations along a direction, rotations about an axis through a pivot (degrees) and scalings
// about a pivot, each either uniform over its group or varying per lattice layer, interpolated
// linearly between stations along a reference direction (twist, chord or dihedral along a span).
// The moves act in the order they were added, each on the result of those before it. The
// derivative of the moved lattice with respect to the variables is carried forward through
// every move (exact, no differencing).
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "core/point.hpp"

namespace velk::toolkit {

class LatticeVariables {
 public:
  // The unmoved lattice, flat (L, 3).
  explicit LatticeVariables(std::span<const double> base);

  enum class Kind { translation, rotation, scaling };

  // Adds a move of the listed nodes and returns the index of its first variable. vector is the
  // direction of a translation (its length is the step per unit value), the axis of a rotation
  // (normalised) or, for a scaling, the factors (0 or 1) that say which coordinates it scales.
  // pivot is the point on the rotation axis or the centre of the scaling. With no stations the
  // move has one variable; otherwise one per station, interpolated linearly at each node's
  // unmoved position along `along` (held constant beyond the first and last station). A
  // scaling's value v scales by 1 + v; a rotation's value is in degrees. Throws InvalidInput
  // for a node id out of range (naming node_ids), a zero axis or along direction, or stations
  // that do not increase.
  std::size_t add(Kind kind, std::span<const int64_t> node_ids, const Point3& vector,
                  const Point3& pivot, std::span<const double> stations, const Point3& along);

  std::size_t size() const { return variables_; }
  std::size_t node_count() const { return base_.size(); }

  // The moved lattice, flat (L, 3), and when jacobian is given, d(lattice)/d(values) into it,
  // flat row-major (3L, size()). values must hold size() numbers (checked: InvalidInput).
  std::vector<double> lattice(std::span<const double> values,
                              std::vector<double>* jacobian = nullptr) const;

 private:
  struct Move {
    Kind kind;
    std::vector<std::size_t> nodes;
    Point3 vector, pivot;
    std::size_t first;               // index of the move's first variable
    std::vector<std::size_t> low;    // per node: station below (or the only variable)
    std::vector<double> weight_low;  // its weight; the next station has 1 - weight_low
    bool layered;
  };
  NodeList base_;
  std::vector<Move> moves_;
  std::size_t variables_ = 0;
};

}  // namespace velk::toolkit
