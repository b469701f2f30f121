// A set of points that must all be distinct (control points), and the exact lookup of a point
// among them: rows sorted by their coordinates, so coincident rows are neighbours and a lookup
// is a binary search.
#pragma once

#include <cstddef>
#include <span>
#include <vector>

namespace velk::toolkit {

class ExactPointIndex {
 public:
  ExactPointIndex() = default;
  // Indexes the (N, 3) rows of `points`. Throws InvalidInput naming both rows when two rows
  // hold the same point (the earliest row that repeats one before it, and that one), in the
  // words of RbfMorph's check.
  explicit ExactPointIndex(std::span<const double> points);

  // The row of `points` (the same rows as indexed) equal to (x, y, z), or -1.
  std::ptrdiff_t find(std::span<const double> points, const double* xyz) const;

 private:
  std::vector<std::size_t> order_;  // rows in lexicographic order of (x, y, z), ties by row
};

}  // namespace velk::toolkit
