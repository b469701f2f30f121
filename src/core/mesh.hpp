// Mesh: a triangle surface made of a node list and a cell list, with its derived lists.
#pragma once

#include <optional>

#include "core/point.hpp"

namespace velk {

struct Mesh {
  NodeList nodes;
  CellList cells;
};

// The corner points A, B, C of one cell; an index at or beyond the node count is an internal
// failure (the checked accessor's text).
CornerTriple corners(const NodeList& nodes, const Triangle& t);

// The corner points of every cell, in cell order. A cell index at or beyond the node count is
// an internal failure, raised before any result is returned.
std::vector<CornerTriple> triangles(const Mesh& mesh);

// The unit normal (B - A) x (C - A) / |.| of every cell; degenerate cells give NaN components.
NodeList cell_normals(const Mesh& mesh);

}  // namespace velk
