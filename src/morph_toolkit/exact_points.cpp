// Sorting control points to find coincident rows, and exact lookups among them.
#include "morph_toolkit/exact_points.hpp"

#include <algorithm>
#include <string>

#include "morph_toolkit/errors.hpp"

namespace velk::toolkit {

namespace {

bool row_less(const double* a, const double* b) {
  if (a[0] != b[0]) return a[0] < b[0];
  if (a[1] != b[1]) return a[1] < b[1];
  return a[2] < b[2];
}

bool row_equal(const double* a, const double* b) {
  return a[0] == b[0] && a[1] == b[1] && a[2] == b[2];
}

}  // namespace

ExactPointIndex::ExactPointIndex(std::span<const double> points) : order_(points.size() / 3) {
  for (std::size_t i = 0; i < order_.size(); ++i) order_[i] = i;
  const double* p = points.data();
  std::stable_sort(order_.begin(), order_.end(),
                   [p](std::size_t a, std::size_t b) { return row_less(p + 3 * a, p + 3 * b); });
  // Within a run of equal rows the first is the lowest row; the second repeats it.
  std::size_t first = 0, repeat = order_.size(), run_start = 0;
  for (std::size_t k = 1; k < order_.size(); ++k) {
    if (!row_equal(p + 3 * order_[k - 1], p + 3 * order_[k])) {
      run_start = k;
      continue;
    }
    if (order_[k] < repeat) repeat = order_[k], first = order_[run_start];
  }
  if (repeat != order_.size())
    throw InvalidInput("control points " + std::to_string(first) + " and " +
                       std::to_string(repeat) + " coincide");
}

std::ptrdiff_t ExactPointIndex::find(std::span<const double> points, const double* xyz) const {
  const double* p = points.data();
  auto it =
      std::lower_bound(order_.begin(), order_.end(), xyz,
                       [p](std::size_t row, const double* q) { return row_less(p + 3 * row, q); });
  if (it == order_.end() || !row_equal(p + 3 * *it, xyz)) return -1;
  return static_cast<std::ptrdiff_t>(*it);
}

}  // namespace velk::toolkit
