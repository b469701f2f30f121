// The plane operations of a Mesh: the section of its surface with a plane (slice) and the part
// of it on the side a plane's normal points to (clip). The plane is given by a point on it
// (origin) and a normal of any length.
#pragma once

#include <optional>
#include <vector>

#include "core/mesh.hpp"

namespace velk {

// The section as segment end points: entries 2j and 2j + 1 are the ends of segment j, at most
// one segment per cell, in cell order. Each edge A→B, B→C, C→A with
// t = (d − S·n) / ((E − S)·n) in [0, 1] yields S + (E − S)·t; a cell yielding exactly two points
// contributes them. Absent when no cell contributes. Every cell index is checked (internal
// failure) before any slicing.
std::optional<NodeList> slice_from_plane(const Mesh& mesh, const Point3& origin,
                                         const Point3& normal);

// A plane through origin with the given normal (of any length).
struct Plane {
  Point3 origin;
  Point3 normal;
};

// For each plane, whether slice_from_plane would find a segment, without building any section:
// the same test per cell, the cells read once for all planes; fails on a bad cell index exactly
// as a slice does.
std::vector<bool> planes_cut_mesh(const Mesh& mesh, const std::vector<Plane>& planes);

// The kept nodes (node·n − d ≥ 0, in old order; NaN tests are not kept) and the cells whose three
// indices are all kept, in old order and renumbered to positions in the kept list. Cells with an
// index beyond the node list are dropped. Never fails.
Mesh clip_from_plane(const Mesh& mesh, const Point3& origin, const Point3& normal);

}  // namespace velk
