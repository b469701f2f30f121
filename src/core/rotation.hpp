// The system's one rotation convention: three angles in degrees turned into R = Rx·(Ry·Rz),
// and its exact inverse (the transpose) for rotating back into a block's own axes.
#pragma once

#include "core/matrix.hpp"
#include "core/point.hpp"

namespace velk {

// Degrees to radians as (angle × π) / 180, multiplying first.
double degrees_to_radians(double degrees);

// R = Rx·(Ry·Rz); a factor whose angle is exactly zero (either sign) is skipped and its sine
// and cosine are not computed. Products are summed left to right over the inner index.
Matrix3 rotation_matrix(const Point3& theta);

// The transpose of rotation_matrix(theta): its exact inverse, whatever the angles.
Matrix3 inverse_rotation_matrix(const Point3& theta);

// A·B, each element summed left to right: ((a0·b0 + a1·b1) + a2·b2).
Matrix3 multiply(const Matrix3& a, const Matrix3& b);

// R·v, each component summed left to right: ((r0·x + r1·y) + r2·z).
Point3 rotate(const Matrix3& r, const Point3& v);

// p turned by r about centre: rotate(r, p − centre) + centre, component by component.
Point3 rotate_about(const Matrix3& r, const Point3& p, const Point3& centre);

}  // namespace velk
