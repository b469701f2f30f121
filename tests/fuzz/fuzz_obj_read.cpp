// Fuzz target of the OBJ reader. Properties: every cell of a mesh the reader accepts names an
// existing node (a face naming a vertex the file lacks fails the read); such a mesh, written as
// OBJ and read again, is the same mesh, bit for bit.
#include <cstdlib>

#include "fuzz_input.hpp"
#include "io/obj.hpp"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  static velk::fuzz::MemoryFile input;
  static const std::string output = velk::fuzz::scratch_path(".obj");
  input.fill(data, size);
  auto mesh = velk::io::read_obj(input.path());
  if (!mesh) return 0;
  for (const velk::Triangle& t : mesh->cells)
    if (t.a >= mesh->nodes.size() || t.b >= mesh->nodes.size() || t.c >= mesh->nodes.size())
      std::abort();
  if (!velk::io::write_obj(mesh->nodes, mesh->cells, output)) std::abort();
  auto again = velk::io::read_obj(output);
  if (!again || !velk::fuzz::same_bits(mesh->nodes, again->nodes) ||
      !velk::fuzz::same_bits(mesh->cells, again->cells))
    std::abort();
  return 0;
}
