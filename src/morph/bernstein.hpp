// The arithmetic of trivariate Bernstein blending: binomial coefficients, integer powers by
// repeated squaring, and for a group of points side by side (one point per lane) the weights of
// one axis and the blend of lattice displacements.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "core/point.hpp"
#include "core/simd.hpp"

namespace velk::morph {

// C(n, k) for k = 0 … n, each the running product over m < k of (n − m) / (k − m) from 1.0.
std::vector<double> binomial_row(uint64_t n);

// x to the power n by repeated squaring: the result starts as x for odd n (1 otherwise), then
// x is squared once per remaining bit and multiplied in where the bit is set. powi(x, 0) = 1.
inline double powi(double x, uint64_t n) {
  double y = (n & 1) ? x : 1.0;
  while (n >>= 1) {
    x = x * x;
    if (n & 1) y = y * x;
  }
  return y;
}

// ---- Group forms: the points of a group side by side, one per lane ----
// Every lane receives exactly the operations its point would alone, in the same order, as
// separate IEEE multiplies and adds, so each lane's bits equal the one-point result. The work is
// written on vectors of W lanes and forced inline, so that each kernel compiles it for its own
// instruction set: W = 4 in AVX2 code, W = 2 in baseline (SSE2) code. A group is kVectors
// vectors, enough independent sums in flight to hide the adder's latency. Vectors are passed
// through references only (no function returns one, so its calling convention never matters)
// and never put in containers; an array of group values is plain doubles, lane l of entry i at
// [i * group_lanes<W> + l].

constexpr std::size_t kVectors = 2;
template <std::size_t W>
constexpr std::size_t group_lanes = kVectors * W;

// Vector h of entry i of an array of group values, and back.
template <std::size_t W>
[[gnu::always_inline]] inline void load_vector(typename simd::Vector<W>::type& v,
                                               const double* lanes, std::size_t i, std::size_t h) {
  std::memcpy(&v, lanes + i * group_lanes<W> + h * W, sizeof v);
}
template <std::size_t W>
[[gnu::always_inline]] inline void store_vector(double* lanes, std::size_t i, std::size_t h,
                                                const typename simd::Vector<W>::type& v) {
  std::memcpy(lanes + i * group_lanes<W> + h * W, &v, sizeof v);
}

// powi for every lane, into y: the same squarings and products as powi.
template <std::size_t W>
[[gnu::always_inline]] inline void powi_lanes(typename simd::Vector<W>::type& y,
                                              const typename simd::Vector<W>::type& base,
                                              uint64_t n) {
  typename simd::Vector<W>::type x = base;
  y = (n & 1) ? x : typename simd::Vector<W>::type{} + 1.0;
  while (n >>= 1) {
    x = x * x;
    if (n & 1) y = y * x;
  }
}

// weights[i] = powi(s, i) · (powi(1 − s, n − i) · C(n, i)) per lane of the group s, i = 0 … n,
// with n = binomials.size() − 1; weights must hold n + 1 entries.
template <std::size_t W>
[[gnu::always_inline]] inline void bernstein_weights_group(const double* s,
                                                           const std::vector<double>& binomials,
                                                           double* weights) {
  using V = typename simd::Vector<W>::type;
  const uint64_t n = binomials.size() - 1;
  for (std::size_t h = 0; h < kVectors; ++h) {
    V v;
    load_vector<W>(v, s, 0, h);
    const V rest = 1.0 - v;
    for (uint64_t i = 0; i <= n; ++i) {
      V head, tail;
      powi_lanes<W>(head, v, i);
      powi_lanes<W>(tail, rest, n - i);
      store_vector<W>(weights, i, h, head * (tail * binomials[i]));
    }
  }
}

// Calls f(n, w0, w1) for every lattice node n in lattice order (i outermost, then j, then k),
// with the node's weights (bx[i]·by[j])·bz[k] for the group's two vectors; bx, by, bz hold nx1,
// ny1, nz1 weights. f takes the vectors by reference and must be forced inline.
template <std::size_t W, class F>
[[gnu::always_inline]] inline void for_each_node_weight(const double* bx, std::size_t nx1,
                                                        const double* by, std::size_t ny1,
                                                        const double* bz, std::size_t nz1, F&& f) {
  static_assert(kVectors == 2, "two vectors of weights per node");
  using V = typename simd::Vector<W>::type;
  std::size_t node = 0;
  for (std::size_t i = 0; i < nx1; ++i) {
    V wi0, wi1;
    load_vector<W>(wi0, bx, i, 0);
    load_vector<W>(wi1, bx, i, 1);
    for (std::size_t j = 0; j < ny1; ++j) {
      V wj0, wj1;
      load_vector<W>(wj0, by, j, 0);
      load_vector<W>(wj1, by, j, 1);
      const V wij0 = wi0 * wj0, wij1 = wi1 * wj1;
      for (std::size_t k = 0; k < nz1; ++k, ++node) {
        V wk0, wk1;
        load_vector<W>(wk0, bz, k, 0);
        load_vector<W>(wk1, bz, k, 1);
        const V w0 = wij0 * wk0, w1 = wij1 * wk1;
        f(node, w0, w1);
      }
    }
  }
}

// Per lane, Σ over i (outermost), j, k (innermost) of ((bx[i]·by[j])·bz[k]) · d[(i·ny1 + j)·nz1 +
// k], each component accumulated from 0.0 in that order; bx, by, bz hold nx1, ny1, nz1 weights. The
// three sums go to entries 0, 1 and 2 of out.
template <std::size_t W>
[[gnu::always_inline]] inline void bernstein_blend_group(const double* bx, std::size_t nx1,
                                                         const double* by, std::size_t ny1,
                                                         const double* bz, std::size_t nz1,
                                                         const Point3* d, double* out) {
  using V = typename simd::Vector<W>::type;
  V ax0 = V{}, ay0 = ax0, az0 = ax0, ax1 = ax0, ay1 = ax0, az1 = ax0;  // +0.0
  for_each_node_weight<W>(bx, nx1, by, ny1, bz, nz1,
                          [&](std::size_t node, const V& w0, const V& w1)
                              __attribute__((always_inline)) {
                                const double x = d[node].x, y = d[node].y, z = d[node].z;
                                ax0 = ax0 + w0 * x, ax1 = ax1 + w1 * x;
                                ay0 = ay0 + w0 * y, ay1 = ay1 + w1 * y;
                                az0 = az0 + w0 * z, az1 = az1 + w1 * z;
                              });
  store_vector<W>(out, 0, 0, ax0), store_vector<W>(out, 0, 1, ax1);
  store_vector<W>(out, 1, 0, ay0), store_vector<W>(out, 1, 1, ay1);
  store_vector<W>(out, 2, 0, az0), store_vector<W>(out, 2, 1, az1);
}

}  // namespace velk::morph
