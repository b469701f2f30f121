// The STL writers. All facet text or records are built on the worker pool before the file is
// created, so an internal failure (a cell naming a missing node) leaves any old file untouched.
#include <array>
#include <bit>
#include <cmath>
#include <cstring>
#include <limits>

#include "core/internal_failure.hpp"
#include "core/worker_pool.hpp"
#include "io/file.hpp"
#include "io/number_text.hpp"
#include "io/stl.hpp"

namespace velk::io {

namespace {

using Record = std::array<char, 50>;

constexpr char kBinaryHeader[] = "Binary STL generated with VELK";

void append_triple(std::string& out, const Point3& p) {
  append_number(out, p.x);
  out += ' ';
  append_number(out, p.y);
  out += ' ';
  append_number(out, p.z);
}

std::string facet_text(const NodeList& nodes, const Triangle& t) {
  const Point3& a = checked_at(nodes, t.a);
  const Point3& b = checked_at(nodes, t.b);
  const Point3& c = checked_at(nodes, t.c);
  std::string out;
  out.reserve(256);
  out += "  facet normal ";
  append_triple(out, facet_normal(a, b, c));
  out += "\n    outer loop\n";
  for (const Point3* p : {&a, &b, &c}) {
    out += "      vertex ";
    append_triple(out, *p);
    out += '\n';
  }
  out += "    endloop\n  endfacet";
  return out;
}

void put_u32(char* out, uint32_t v) {
  for (int i = 0; i < 4; ++i) out[i] = static_cast<char>((v >> (8 * i)) & 0xFF);
}

void put_point(char* out, const Point3& p) {
  // Each coordinate rounded to the nearest 32-bit float.
  put_u32(out, std::bit_cast<uint32_t>(static_cast<float>(p.x)));
  put_u32(out + 4, std::bit_cast<uint32_t>(static_cast<float>(p.y)));
  put_u32(out + 8, std::bit_cast<uint32_t>(static_cast<float>(p.z)));
}

Record facet_record(const NodeList& nodes, const Triangle& t) {
  const Point3& a = checked_at(nodes, t.a);
  const Point3& b = checked_at(nodes, t.b);
  const Point3& c = checked_at(nodes, t.c);
  Record r{};
  put_point(r.data(), facet_normal(a, b, c));
  put_point(r.data() + 12, a);
  put_point(r.data() + 24, b);
  put_point(r.data() + 36, c);
  return r;  // bytes 48 and 49: attribute byte count 0
}

Status write_ascii(const NodeList& nodes, const CellList& cells, const std::string& name) {
  const std::vector<std::string> facets = pool::parallel_map<std::string>(
      cells.size(), [&](std::size_t i) { return facet_text(nodes, cells[i]); });
  auto file = File::create(name);
  if (!file) return fail_with(file.error());
  BufferedWriter out(std::move(*file));
  if (auto ok = out.write("solid exported_grid\n"); !ok) return ok;
  for (const std::string& facet : facets) {
    if (auto ok = out.write(facet); !ok) return ok;
    if (auto ok = out.write("\n"); !ok) return ok;
  }
  if (auto ok = out.write("endsolid exported_grid\n"); !ok) return ok;
  return out.finish();
}

Status write_binary(const NodeList& nodes, const CellList& cells, const std::string& name) {
  // The count field is 32 bits wide: a longer cell list cannot be represented.
  if (cells.size() > std::numeric_limits<uint32_t>::max())
    return fail_with(Error::file_system(IoFailure::described(
        IoKind::InvalidInput, "Too many triangles for binary STL: " + std::to_string(cells.size()) +
                                  " (at most 4294967295)")));
  const std::vector<Record> records = pool::parallel_map<Record>(
      cells.size(), [&](std::size_t i) { return facet_record(nodes, cells[i]); });
  std::string body(records.size() * sizeof(Record), '\0');
  for (std::size_t i = 0; i < records.size(); ++i)
    std::memcpy(body.data() + i * sizeof(Record), records[i].data(), sizeof(Record));

  auto file = File::create(name);
  if (!file) return fail_with(file.error());
  char header[80] = {};
  std::memcpy(header, kBinaryHeader, sizeof kBinaryHeader - 1);
  if (auto ok = file->write_all(header, sizeof header); !ok) return ok;
  char count[4];
  put_u32(count, static_cast<uint32_t>(cells.size()));
  if (auto ok = file->write_all(count, sizeof count); !ok) return ok;
  if (auto ok = file->write_all(body); !ok) return ok;
  return file->close();
}

}  // namespace

Point3 facet_normal(const Point3& a, const Point3& b, const Point3& c) {
  const Point3 e1{b.x - a.x, b.y - a.y, b.z - a.z};
  const Point3 e2{c.x - a.x, c.y - a.y, c.z - a.z};
  const Point3 n{e1.y * e2.z - e1.z * e2.y, e1.z * e2.x - e1.x * e2.z, e1.x * e2.y - e1.y * e2.x};
  const double len = std::sqrt(n.x * n.x + n.y * n.y + n.z * n.z);
  if (len > EPS) return {n.x / len, n.y / len, n.z / len};
  return n;
}

Status write_stl(const NodeList& nodes, const CellList& cells,
                 const std::optional<std::string>& filename, std::optional<StlFormat> format) {
  const std::string name = filename.value_or("mesh.stl");
  if (format.value_or(StlFormat::Binary) == StlFormat::Ascii)
    return write_ascii(nodes, cells, name);
  return write_binary(nodes, cells, name);
}

}  // namespace velk::io
