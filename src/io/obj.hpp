// Wavefront OBJ files: vertex positions and triangle faces only. The writer emits two header
// lines, the "v" lines and the "f" lines; the lenient reader keeps what it can use and drops
// the rest.
#pragma once

#include <optional>
#include <string>

#include "core/error.hpp"
#include "core/mesh.hpp"

namespace velk::io {

// No file name means "mesh.obj". Indices are written plus 1; a cell naming a node beyond the
// list is an internal failure, raised before the file is created.
Status write_obj(const NodeList& nodes, const CellList& cells,
                 const std::optional<std::string>& filename);

// The "v" and "f" lines of the file: a face of n >= 3 readable corners becomes the fan
// (i0, i1, i2), (i0, i2, i3), ...; a relative index -k is the k-th vertex back from the last
// one read so far. Other statements are dropped. A face naming a vertex the file does not
// define (an index 0, or beyond the last "v" line) fails with an invalid-data failure naming
// the face's line and the index as written.
Result<Mesh> read_obj(const std::string& filename);

}  // namespace velk::io
