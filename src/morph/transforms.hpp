// Node transforms: translate, rotate, scale and matrix-transform node arrays, transform a chosen
// subset, and build the 4x4 transformation matrix they consume. The rotation convention itself
// lives in core/rotation.hpp.
#pragma once

#include "core/matrix.hpp"
#include "core/point.hpp"
#include "core/rotation.hpp"

namespace velk::morph {

// Every node p becomes p + translation, component by component. In place.
void translate_nodes(NodeList& nodes, const Point3& translation);

// Every node p becomes R·(p − origin) + origin with R = rotation_matrix(rotation), each output
// component summed left to right. In place.
void rotate_nodes(NodeList& nodes, const Point3& rotation, const Point3& origin);

// Every node p becomes (p − origin)·scaling + origin, component by component. In place.
void scale_nodes(NodeList& nodes, const Point3& scaling, const Point3& origin);

// The transform of one point about origin: with d = p − origin,
// p'_r = (((M[r][0]·dx + M[r][1]·dy) + M[r][2]·dz) + M[r][3]) + origin_r. Row 3 is never read.
Point3 transform_point(const Point3& p, const Matrix4& matrix, const Point3& origin);

// transform_point applied to every node. In place.
void transform_nodes(NodeList& nodes, const Matrix4& matrix, const Point3& origin);

// A copy of nodes in which each listed id, in list order, is replaced by its transform
// (computed from the copy's current value, so an id listed twice is transformed twice). Ids at
// or beyond the node count are skipped silently; unlisted nodes keep their values bit for bit.
NodeList transform_selected_nodes(const NodeList& nodes, const IndexList& selected_ids,
                                  const Matrix4& matrix, const Point3& origin);

// M = T·R·S: rows (R[r][0]·s_x, R[r][1]·s_y, R[r][2]·s_z, t_r) for r = 0..2, then (0, 0, 0, 1).
Matrix4 build_transformation_matrix(const Point3& translation, const Point3& rotation,
                                    const Point3& scaling);

}  // namespace velk::morph
