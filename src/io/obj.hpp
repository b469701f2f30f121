// Wavefront OBJ files: vertex positions and triangle faces only. The writer emits two header
// lines, the "v" lines and the "f" lines; the lenient reader keeps what it can use and drops
// the rest.
#pragma once

#include <optional>
#include <string>

#include "core/error.hpp"
#include "core/mesh.hpp"

namespace velk::io {

// No file name means "mesh.obj". Indices are written as they are, plus 1, unchecked.
Status write_obj(const NodeList& nodes, const CellList& cells,
                 const std::optional<std::string>& filename);

// The "v" and "f" lines of the file: triangles kept, quads split into two, other faces and
// statements dropped. Indices are not checked against the node count.
Result<Mesh> read_obj(const std::string& filename);

}  // namespace velk::io
