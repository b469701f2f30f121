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

// The indices of the nodes that keep(node) accepts, in index order.
template <class Keep>
IndexList nodes_where(const NodeList& nodes, Keep keep) {
  IndexList out;
  for (uint64_t i = 0; i < nodes.size(); ++i)
    if (keep(nodes[i])) out.push_back(i);
  return out;
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
  const double length = std::sqrt(squared_distance(point_a, point_b));
  return nodes_where(nodes, [&](const Point3& node) {
    const double da = std::sqrt(squared_distance(point_a, node));
    const double db = std::sqrt(squared_distance(point_b, node));
    return length >= db && length >= da && std::fabs((da + db) - length) <= EPS;
  });
}

IndexList select_nodes_in_sphere(const NodeList& nodes, double radius, const Point3& centre) {
  const double limit = radius * radius;
  return nodes_where(nodes,
                     [&](const Point3& node) { return limit >= squared_distance(node, centre); });
}

IndexList select_nodes_in_box(const NodeList& nodes, const Point3& length, const Point3& centre,
                              const Point3& theta) {
  const Matrix3 back = inverse_rotation_matrix(theta);
  return nodes_where(nodes, [&](const Point3& node) {
    const Point3 local = rotate_about(back, node, centre);
    return within(local.x, centre.x, length.x) && within(local.y, centre.y, length.y) &&
           within(local.z, centre.z, length.z);
  });
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
  const double offset = dot(origin, normal);
  return nodes_where(nodes, [&](const Point3& node) { return dot(node, normal) - offset >= 0.0; });
}

}  // namespace velk
