// Enclosed volume and surface area of a triangle mesh and their gradients with respect to the
// points. Points are a flat row-major (M, 3) array, triangles a flat (K, 3) array of point
// indices the caller has checked. Sums run over the triangles in order, so the bits are fixed.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

namespace velk::toolkit {

// sum over triangles (a, b, c) of a . (b x c) / 6: the enclosed volume of a closed mesh wound
// outward (negative when wound inward).
double mesh_volume(std::span<const double> points, std::span<const int64_t> triangles);

// sum over triangles of |(b - a) x (c - a)| / 2.
double mesh_area(std::span<const double> points, std::span<const int64_t> triangles);

// d volume / d point, (M, 3): each triangle adds (b x c) / 6 to a, (c x a) / 6 to b and
// (a x b) / 6 to c.
std::vector<double> mesh_volume_gradient(std::span<const double> points,
                                         std::span<const int64_t> triangles);

// d area / d point, (M, 3): with u the unit normal of a triangle, it adds ((b - c) x u) / 2 to a,
// ((c - a) x u) / 2 to b and ((a - b) x u) / 2 to c; a triangle without area adds nothing.
std::vector<double> mesh_area_gradient(std::span<const double> points,
                                       std::span<const int64_t> triangles);

}  // namespace velk::toolkit
