// Node selection: the indices of the nodes of a node list that meet one geometric criterion.
// Every result is in ascending order without duplicates, empty when nothing qualifies; no
// selection fails. EPS (core/point.hpp) is the absolute tie and on-segment tolerance.
#pragma once

#include "core/point.hpp"

namespace velk {

// Nodes at the smallest squared distance to point. One pass keeping the best value: a node
// within EPS of the best (inclusive) is a tie and joins without changing the best; otherwise a
// smaller value restarts the list. Infinite and NaN distances never qualify.
IndexList select_nodes_closest_to_point(const NodeList& nodes, const Point3& point);

// Nodes on the segment from point_a to point_b: L ≥ db, L ≥ da and |(da + db) − L| ≤ EPS.
IndexList select_nodes_on_line(const NodeList& nodes, const Point3& point_a, const Point3& point_b);

// Nodes with radius·radius ≥ |node − centre|², boundary included.
IndexList select_nodes_in_sphere(const NodeList& nodes, double radius, const Point3& centre);

// Nodes inside the box of edge lengths `length`, centred at centre and rotated by theta
// (degrees), boundary included. Each node is turned back into the box's axes with the exact
// inverse of rotation_matrix(theta), computed once per call.
IndexList select_nodes_in_box(const NodeList& nodes, const Point3& length, const Point3& centre,
                              const Point3& theta);

// Nodes at the smallest |n·node − n·origin| (n not normalised). One pass from the largest
// finite double: a smaller value restarts the list; otherwise a value within EPS (strict) of the
// best joins it.
IndexList select_nodes_closest_to_plane(const NodeList& nodes, const Point3& origin,
                                        const Point3& normal);

// Nodes with (n·node) − (n·origin) ≥ 0: the side the normal points to, plane included.
IndexList select_nodes_in_plane_direction(const NodeList& nodes, const Point3& origin,
                                          const Point3& normal);

}  // namespace velk
