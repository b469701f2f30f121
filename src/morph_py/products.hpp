// Shared pieces of the methods that take (points, second) with second an (N, 3) array (the
// deformation and derivative products of Ffd and RbfMorph): argument checks and stub signature.
#pragma once

#include <cstddef>
#include <string>

#include "morph_py/arrays.hpp"

namespace velk::morph_py {

// The checked arguments of such a method.
struct PointPair {
  FloatRows points, second;
};

// points and `second` (named `name`) as finite (N, 3) arrays; second must have one row per point
// when per_item is null, otherwise `items` rows, the refusal saying per_item (e.g. "one row per
// control point").
PointPair point_pair_args(nb::handle points, nb::handle second, const char* name,
                          const char* per_item, std::size_t items);

// The nb::sig text "def name(self, points: ArrayLike, second: ArrayLike) -> NDArray[float64]".
std::string point_pair_sig(const char* name, const char* second);

}  // namespace velk::morph_py
