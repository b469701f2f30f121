// The angle around the y axis used by the round shapes: sector k of S lies at
// ((k/S)·2)·π, computed in exactly that order. The tables hold its cosine and sine per sector.
#pragma once

#include <cmath>
#include <cstdint>
#include <numbers>
#include <vector>

namespace velk::primitives {

inline double sector_angle(uint64_t k, uint64_t count) {
  return ((static_cast<double>(k) / static_cast<double>(count)) * 2.0) * std::numbers::pi;
}

struct SectorTable {
  std::vector<double> cos, sin;
};

// Cosine and sine of sector_angle(k, count) for k = 0 .. last (inclusive).
inline SectorTable sector_table(uint64_t count, uint64_t last) {
  SectorTable t;
  t.cos.reserve(last + 1);
  t.sin.reserve(last + 1);
  for (uint64_t k = 0; k <= last; ++k) {
    const double a = sector_angle(k, count);
    t.cos.push_back(std::cos(a));
    t.sin.push_back(std::sin(a));
  }
  return t;
}

}  // namespace velk::primitives
