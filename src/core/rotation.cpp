// rotation_matrix, its transpose, and turning points with them.
#include "core/rotation.hpp"

#include <cmath>

namespace velk {

double degrees_to_radians(double degrees) {
  return (degrees * 3.141592653589793) / 180.0;
}

Matrix3 multiply(const Matrix3& a, const Matrix3& b) {
  Matrix3 m{};
  for (int r = 0; r < 3; ++r)
    for (int c = 0; c < 3; ++c)
      m[r][c] = (a[r][0] * b[0][c] + a[r][1] * b[1][c]) + a[r][2] * b[2][c];
  return m;
}

Point3 rotate(const Matrix3& r, const Point3& v) {
  return {(r[0][0] * v.x + r[0][1] * v.y) + r[0][2] * v.z,
          (r[1][0] * v.x + r[1][1] * v.y) + r[1][2] * v.z,
          (r[2][0] * v.x + r[2][1] * v.y) + r[2][2] * v.z};
}

Point3 rotate_about(const Matrix3& r, const Point3& p, const Point3& centre) {
  return rotate(r, p - centre) + centre;
}

Matrix3 rotation_matrix(const Point3& theta) {
  const double ax = degrees_to_radians(theta.x);
  const double ay = degrees_to_radians(theta.y);
  const double az = degrees_to_radians(theta.z);
  Matrix3 m = {{{1, 0, 0}, {0, 1, 0}, {0, 0, 1}}};
  if (az != 0.0) {
    const double s = std::sin(az), c = std::cos(az);
    m = {{{c, -s, 0}, {s, c, 0}, {0, 0, 1}}};
  }
  if (ay != 0.0) {
    const double s = std::sin(ay), c = std::cos(ay);
    m = multiply({{{c, 0, s}, {0, 1, 0}, {-s, 0, c}}}, m);
  }
  if (ax != 0.0) {
    const double s = std::sin(ax), c = std::cos(ax);
    m = multiply({{{1, 0, 0}, {0, c, -s}, {0, s, c}}}, m);
  }
  return m;
}

Matrix3 inverse_rotation_matrix(const Point3& theta) {
  const Matrix3 r = rotation_matrix(theta);
  Matrix3 t{};
  for (int i = 0; i < 3; ++i)
    for (int j = 0; j < 3; ++j) t[i][j] = r[j][i];
  return t;
}

}  // namespace velk
