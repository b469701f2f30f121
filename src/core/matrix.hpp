// Row-major 3x3 and 4x4 matrices of 64-bit floats; points are column vectors and the
// translation of a Matrix4 lives in column 3.
#pragma once

#include <array>

namespace velk {

using Matrix3 = std::array<std::array<double, 3>, 3>;
using Matrix4 = std::array<std::array<double, 4>, 4>;

}  // namespace velk
