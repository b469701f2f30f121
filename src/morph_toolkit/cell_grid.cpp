// The uniform cell grid: cell keys, the sort into cell order and the range queries.
#include "morph_toolkit/cell_grid.hpp"

#include <algorithm>
#include <cmath>
#include <numeric>

namespace velk::toolkit {

namespace {

// Cells per axis at most, so a key (ix · ny + iy) · nz + iz fits in 63 bits.
constexpr double kMaxCellsPerAxis = 1 << 20;

}  // namespace

CellGrid::CellGrid(const double* points, std::size_t n, double radius) {
  double lo[3] = {0, 0, 0}, hi[3] = {0, 0, 0}, magnitude = 0;
  for (int a = 0; a < 3; ++a) {
    if (n) lo[a] = hi[a] = points[a];
    for (std::size_t i = 0; i < n; ++i) {
      lo[a] = std::min(lo[a], points[3 * i + a]);
      hi[a] = std::max(hi[a], points[3 * i + a]);
    }
    magnitude = std::max({magnitude, std::fabs(lo[a]), std::fabs(hi[a])});
  }
  // A little wider than the radius, so rounding in the cell index never hides a point within it.
  cell_ = radius * (1 + 1e-6) + magnitude * 1e-12;
  for (int a = 0; a < 3; ++a) cell_ = std::max(cell_, (hi[a] - lo[a]) / (kMaxCellsPerAxis - 2));
  for (int a = 0; a < 3; ++a) {
    origin_[a] = lo[a];
    cells_[a] = static_cast<std::int64_t>(std::floor((hi[a] - lo[a]) / cell_)) + 1;
  }
  std::vector<std::uint64_t> keys(n);
  for (std::size_t i = 0; i < n; ++i) {
    const std::int64_t c[3] = {cell_of(points[3 * i], 0), cell_of(points[3 * i + 1], 1),
                               cell_of(points[3 * i + 2], 2)};
    keys[i] = static_cast<std::uint64_t>((c[0] * cells_[1] + c[1]) * cells_[2] + c[2]);
  }
  order_.resize(n);
  std::iota(order_.begin(), order_.end(), std::size_t{0});
  std::sort(order_.begin(), order_.end(), [&](std::size_t a, std::size_t b) {
    return keys[a] != keys[b] ? keys[a] < keys[b] : a < b;
  });
  keys_.resize(n);
  for (std::size_t k = 0; k < n; ++k) keys_[k] = keys[order_[k]];
}

std::int64_t CellGrid::cell_of(double v, int axis) const {
  const double c = std::floor((v - origin_[axis]) / cell_);
  // Farther outside the grid (or not a number): two cells beyond its edge, so no cell of the
  // grid is a neighbour.
  if (!(c >= -1.0)) return -2;
  if (c > static_cast<double>(cells_[axis])) return cells_[axis] + 1;
  return static_cast<std::int64_t>(c);
}

std::size_t CellGrid::ranges_near(double x, double y, double z, std::size_t* ranges) const {
  const std::int64_t c[3] = {cell_of(x, 0), cell_of(y, 1), cell_of(z, 2)};
  const std::int64_t z0 = std::max<std::int64_t>(c[2] - 1, 0),
                     z1 = std::min<std::int64_t>(c[2] + 1, cells_[2] - 1);
  if (z0 > z1) return 0;
  std::size_t count = 0;
  for (std::int64_t ix = std::max<std::int64_t>(c[0] - 1, 0);
       ix <= std::min<std::int64_t>(c[0] + 1, cells_[0] - 1); ++ix)
    for (std::int64_t iy = std::max<std::int64_t>(c[1] - 1, 0);
         iy <= std::min<std::int64_t>(c[1] + 1, cells_[1] - 1); ++iy) {
      const std::uint64_t column = static_cast<std::uint64_t>((ix * cells_[1] + iy) * cells_[2]);
      const auto begin = std::lower_bound(keys_.begin(), keys_.end(), column + z0);
      const auto end = std::upper_bound(begin, keys_.end(), column + z1);
      if (begin == end) continue;
      ranges[2 * count] = static_cast<std::size_t>(begin - keys_.begin());
      ranges[2 * count + 1] = static_cast<std::size_t>(end - keys_.begin());
      ++count;
    }
  return count;
}

}  // namespace velk::toolkit
