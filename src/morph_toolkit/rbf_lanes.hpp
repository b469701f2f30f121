// The kernel arithmetic of the displacement morph, on the fastest path the processor has:
// four lanes of AVX2 with fused multiply-add, else one lane. Both paths give the same bits
// (every operation correctly rounded or exact, in the same order per element).
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "morph_toolkit/rbf_kernel.hpp"

namespace velk::toolkit::lanes {

// Lanes a padded array must be a multiple of.
constexpr std::size_t kWidth = 4;
// Query points handled together by kernel_sums: count must be a multiple of this.
constexpr std::size_t kGroup = 2 * kWidth;

// v rounded up to a multiple of kWidth.
constexpr std::size_t round_up(std::size_t v) {
  return (v + kWidth - 1) / kWidth * kWidth;
}

// The n points (x, y, z interleaved, n > 0) by coordinate, each column `size` long, the last
// point repeated into the padding: centre arrays phi_row can read in whole lanes.
struct PaddedColumns {
  std::vector<double> x, y, z;
  PaddedColumns(const double* points, std::size_t n, std::size_t size) : x(size), y(size), z(size) {
    for (std::size_t j = 0; j < size; ++j) {
      const std::size_t i = j < n ? j : n - 1;
      x[j] = points[3 * i], y[j] = points[3 * i + 1], z[j] = points[3 * i + 2];
    }
  }
};

// out[j] = phi(s(p, c_j)) for j in [0, padded) (padded a multiple of kWidth; the centre arrays
// hold at least that many entries).
void phi_row(Kernel kernel, double px, double py, double pz, const double* cx, const double* cy,
             const double* cz, std::size_t padded, double e2, double* out);

// out_k[i] = sum over the centres j = 0..n-1 in turn of w_k[j] · phi(s(q_i, c_j)), the sums
// fused and started at -0, for the query points i in [0, count) (count a multiple of kGroup).
void kernel_sums(Kernel kernel, const double* qx, const double* qy, const double* qz,
                 std::size_t count, const double* cx, const double* cy, const double* cz,
                 const double* w0, const double* w1, const double* w2, std::size_t n, double e2,
                 double* out0, double* out1, double* out2);

// The same sums for a compact kernel, for one point, over the centres of the index ranges
// [ranges[2r], ranges[2r + 1]) within the support (s < 1), in range order.
void compact_sums(Kernel kernel, double px, double py, double pz, const std::size_t* ranges,
                  std::size_t range_count, const double* cx, const double* cy, const double* cz,
                  const double* w0, const double* w1, const double* w2, double e2, double* out);

// The centres of the ranges within the support of a compact kernel around p: indices and
// kernel values written to cols and values when they are not null; returns their number.
std::size_t compact_row(Kernel kernel, double px, double py, double pz, const std::size_t* ranges,
                        std::size_t range_count, const double* cx, const double* cy,
                        const double* cz, double e2, std::uint32_t* cols, double* values);

}  // namespace velk::toolkit::lanes
