// The radial kernels of the displacement morph: their names, the polynomial degree each needs,
// and whether it has compact support. Values are computed by rbf_lanes (vectorised and scalar).
#pragma once

#include <optional>
#include <string_view>

namespace velk::toolkit {

// phi as a function of r = epsilon · distance, with scipy's names and sign conventions for the
// first eight; the Wendland functions vanish for r >= 1.
enum class Kernel {
  linear,                // -r
  thin_plate_spline,     // r² log r (0 at r = 0)
  cubic,                 // r³
  quintic,               // -r⁵
  multiquadric,          // -sqrt(1 + r²)
  inverse_multiquadric,  // 1 / sqrt(1 + r²)
  inverse_quadratic,     // 1 / (1 + r²)
  gaussian,              // exp(-r²)
  wendland_c0,           // (1 - r)²
  wendland_c2,           // (1 - r)⁴ (4r + 1)
  wendland_c4,           // (1 - r)⁶ (35r² + 18r + 3) / 3
};

// The kernel of an exact name, or none.
std::optional<Kernel> kernel_by_name(std::string_view name);
std::string_view kernel_name(Kernel kernel);

// The lowest polynomial degree that makes the interpolation well-posed (-1: none needed).
int minimum_degree(Kernel kernel);
// The degree used when the caller gives none: the minimum, at least 0, for the global kernels
// (scipy's default); -1 for the compact kernels, so that they leave the far field alone.
int default_degree(Kernel kernel);
// True for the Wendland kernels (support radius 1/epsilon).
bool is_compact(Kernel kernel);

// Number of monomials of total degree at most `degree` in three variables (0 for -1).
int monomial_count(int degree);

}  // namespace velk::toolkit
