// STL files: the ASCII and binary writers (facet normals from the cells' winding) and the reader
// of both forms, which merges equal corners into shared nodes.
#pragma once

#include <optional>
#include <string>

#include "core/error.hpp"
#include "core/mesh.hpp"

namespace velk::io {

enum class StlFormat { Ascii, Binary };

// Writes the cells as facets; no file name means "mesh.stl", no format means binary. A cell
// index beyond the node list is an internal failure raised before the file is created.
Status write_stl(const NodeList& nodes, const CellList& cells,
                 const std::optional<std::string>& filename, std::optional<StlFormat> format);

// Reads an ASCII or binary STL file: ASCII when its first 512 bytes are valid UTF-8, begin with
// "solid" (after white space) and hold "facet normal", or when a regular file beginning with
// "solid" is too short for the binary layout its header announces (its size is used too);
// binary otherwise. Nodes come in order of first appearance, corners being equal when their bit
// patterns are; cells keep file order and winding.
Result<Mesh> read_stl(const std::string& filename);

// The unit normal of the cell's corners; a cross product no longer than the machine epsilon is
// returned unchanged.
Point3 facet_normal(const Point3& a, const Point3& b, const Point3& c);

}  // namespace velk::io
