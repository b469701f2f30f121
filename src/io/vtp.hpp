// The VTP point writer: a node list as a VTK XML PolyData file of ASCII data, each point also a
// single-point vertex cell.
#pragma once

#include <optional>
#include <string>

#include "core/error.hpp"
#include "core/point.hpp"

namespace velk::io {

// No file name means "points.vtp". The data blocks are built before the file is created.
Status write_vtp(const NodeList& nodes, const std::optional<std::string>& filename);

}  // namespace velk::io
