// The six node selections, one pass each in index order.
#include "core/selection.hpp"

#include <cfloat>
#include <cmath>

#include "core/rotation.hpp"

namespace velk {

namespace {

// (dx² + dy²) + dz² with d = a − b.
double squared_distance(const Point3& a, const Point3& b) {
  const Point3 d = a - b;
  return dot(d, d);
}

bool within(double value, double centre, double length) {
  return centre - length * 0.5 <= value && value <= centre + length * 0.5;
}

}  // namespace

IndexList select_nodes_closest_to_point(const NodeList& nodes, const Point3& point) {
  IndexList out;
  double best = INFINITY;
  for (uint64_t i = 0; i < nodes.size(); ++i) {
    const double q = squared_distance(nodes[i], point);
    if (std::fabs(q - best) <= EPS) {
      out.push_back(i);
    } else if (q < best) {
      out.assign(1, i);
      best = q;
    }
  }
  return out;
}

IndexList select_nodes_on_line(const NodeList& nodes, const Point3& point_a,
                               const Point3& point_b) {
  IndexList out;
  const double length = std::sqrt(squared_distance(point_a, point_b));
  for (uint64_t i = 0; i < nodes.size(); ++i) {
    const double da = std::sqrt(squared_distance(point_a, nodes[i]));
    const double db = std::sqrt(squared_distance(point_b, nodes[i]));
    if (length >= db && length >= da && std::fabs((da + db) - length) <= EPS) out.push_back(i);
  }
  return out;
}

IndexList select_nodes_in_sphere(const NodeList& nodes, double radius, const Point3& centre) {
  IndexList out;
  const double limit = radius * radius;
  for (uint64_t i = 0; i < nodes.size(); ++i)
    if (limit >= squared_distance(nodes[i], centre)) out.push_back(i);
  return out;
}

IndexList select_nodes_in_box(const NodeList& nodes, const Point3& length, const Point3& centre,
                              const Point3& theta) {
  IndexList out;
  const Matrix3 back = inverse_rotation_matrix(theta);
  for (uint64_t i = 0; i < nodes.size(); ++i) {
    const Point3 local = rotate_about(back, nodes[i], centre);
    if (within(local.x, centre.x, length.x) && within(local.y, centre.y, length.y) &&
        within(local.z, centre.z, length.z))
      out.push_back(i);
  }
  return out;
}

IndexList select_nodes_closest_to_plane(const NodeList& nodes, const Point3& origin,
                                        const Point3& normal) {
  IndexList out;
  const double offset = dot(origin, normal);
  double best = DBL_MAX;
  for (uint64_t i = 0; i < nodes.size(); ++i) {
    const double h = std::fabs(dot(nodes[i], normal) - offset);
    if (h < best) {
      out.assign(1, i);
      best = h;
    } else if (std::fabs(h - best) < EPS) {
      out.push_back(i);
    }
  }
  return out;
}

IndexList select_nodes_in_plane_direction(const NodeList& nodes, const Point3& origin,
                                          const Point3& normal) {
  IndexList out;
  const double offset = dot(origin, normal);
  for (uint64_t i = 0; i < nodes.size(); ++i)
    if (dot(nodes[i], normal) - offset >= 0.0) out.push_back(i);
  return out;
}

}  // namespace velk
