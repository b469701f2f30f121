// A uniform grid of cubic cells over a point set, for finding the points within a fixed radius
// of any query: the points sorted by cell, so the points of the cells (ix, iy, iz - 1 .. iz + 1)
// are one contiguous range and a query visits 9 ranges.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace velk::toolkit {

class CellGrid {
 public:
  CellGrid() = default;
  // Grid over the n points (x, y, z interleaved) with cells of at least `radius` per side.
  CellGrid(const double* points, std::size_t n, double radius);

  // order()[k] is the input index of the k-th point in cell order (cells by key, then by index).
  const std::vector<std::size_t>& order() const { return order_; }

  // Writes the index ranges (pairs [begin, end) into the cell order) that hold every point
  // within `radius` of (x, y, z), at most 9 pairs into ranges; returns the number of pairs.
  std::size_t ranges_near(double x, double y, double z, std::size_t* ranges) const;

 private:
  std::int64_t cell_of(double v, int axis) const;
  double origin_[3] = {0, 0, 0};
  double cell_ = 1.0;
  std::int64_t cells_[3] = {1, 1, 1};
  std::vector<std::uint64_t> keys_;  // the cell key of each point, in cell order
  std::vector<std::size_t> order_;
};

}  // namespace velk::toolkit
