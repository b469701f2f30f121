// Fuzz target of the STL reader (ASCII and binary). Property: a mesh the reader accepts, written
// as ASCII STL (which keeps every double) and read again, has the same cells with the same
// corner points, bit for bit; and a second round changes nothing at all. (The lenient ASCII
// reader may keep corners of a broken facet as nodes no cell uses; the writer drops them.)
// Meshes with NaN coordinates are not compared: the text form does not keep a NaN's payload.
#include <cmath>
#include <cstdlib>
#include <vector>

#include "fuzz_input.hpp"
#include "io/stl.hpp"

namespace {

bool has_nan(const velk::NodeList& nodes) {
  for (const velk::Point3& p : nodes)
    if (std::isnan(p.x) || std::isnan(p.y) || std::isnan(p.z)) return true;
  return false;
}

velk::Mesh round_trip(const velk::Mesh& mesh, const std::string& path) {
  if (!velk::io::write_stl(mesh.nodes, mesh.cells, path, velk::io::StlFormat::Ascii)) std::abort();
  auto again = velk::io::read_stl(path);
  if (!again) std::abort();
  return std::move(*again);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  static velk::fuzz::MemoryFile input;
  static const std::string output = velk::fuzz::scratch_path(".stl");
  input.fill(data, size);
  auto mesh = velk::io::read_stl(input.path());
  if (!mesh || has_nan(mesh->nodes)) return 0;
  const velk::Mesh second = round_trip(*mesh, output);
  if (!velk::fuzz::same_bits(velk::triangles(*mesh), velk::triangles(second))) std::abort();
  const velk::Mesh third = round_trip(second, output);
  if (!velk::fuzz::same_bits(second.nodes, third.nodes) ||
      !velk::fuzz::same_bits(second.cells, third.cells))
    std::abort();
  return 0;
}
