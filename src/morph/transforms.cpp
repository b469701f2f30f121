// Node transforms over node arrays, each formula summed in its fixed order.
#include "morph/transforms.hpp"

namespace velk::morph {

void translate_nodes(NodeList& nodes, const Point3& translation) {
  for (Point3& p : nodes) p = p + translation;
}

void rotate_nodes(NodeList& nodes, const Point3& rotation, const Point3& origin) {
  const Matrix3 r = rotation_matrix(rotation);
  for (Point3& p : nodes) p = rotate_about(r, p, origin);
}

void scale_nodes(NodeList& nodes, const Point3& scaling, const Point3& origin) {
  for (Point3& p : nodes) {
    p.x = (p.x - origin.x) * scaling.x + origin.x;
    p.y = (p.y - origin.y) * scaling.y + origin.y;
    p.z = (p.z - origin.z) * scaling.z + origin.z;
  }
}

Point3 transform_point(const Point3& p, const Matrix4& m, const Point3& origin) {
  const auto [dx, dy, dz] = p - origin;
  return {(((m[0][0] * dx + m[0][1] * dy) + m[0][2] * dz) + m[0][3]) + origin.x,
          (((m[1][0] * dx + m[1][1] * dy) + m[1][2] * dz) + m[1][3]) + origin.y,
          (((m[2][0] * dx + m[2][1] * dy) + m[2][2] * dz) + m[2][3]) + origin.z};
}

void transform_nodes(NodeList& nodes, const Matrix4& matrix, const Point3& origin) {
  for (Point3& p : nodes) p = transform_point(p, matrix, origin);
}

NodeList transform_selected_nodes(const NodeList& nodes, const IndexList& selected_ids,
                                  const Matrix4& matrix, const Point3& origin) {
  NodeList out = nodes;
  for (const uint64_t id : selected_ids)
    if (id < out.size()) out[id] = transform_point(out[id], matrix, origin);
  return out;
}

Matrix4 build_transformation_matrix(const Point3& translation, const Point3& rotation,
                                    const Point3& scaling) {
  const Matrix3 r = rotation_matrix(rotation);
  const double t[3] = {translation.x, translation.y, translation.z};
  Matrix4 m{};
  for (int row = 0; row < 3; ++row)
    m[row] = {r[row][0] * scaling.x, r[row][1] * scaling.y, r[row][2] * scaling.z, t[row]};
  m[3] = {0.0, 0.0, 0.0, 1.0};
  return m;
}

}  // namespace velk::morph
