// The VTP writer: point lines, connectivity and offsets are formatted on the worker pool and
// joined in index order, then the file is written through one buffered writer.
#include "core/worker_pool.hpp"
#include "io/buffered_writer.hpp"
#include "io/number_text.hpp"
#include "io/vtp.hpp"

namespace velk::io {

namespace {

constexpr const char* kIndent = "          ";  // 10 spaces before every data line

std::string join(const std::vector<std::string>& parts, char separator) {
  std::size_t size = parts.empty() ? 0 : parts.size() - 1;
  for (const std::string& p : parts) size += p.size();
  std::string out;
  out.reserve(size);
  for (std::size_t i = 0; i < parts.size(); ++i) {
    if (i) out += separator;
    out += parts[i];
  }
  return out;
}

std::string point_line(const Point3& p) {
  std::string line = kIndent;
  append_number(line, p.x);
  line += ' ';
  append_number(line, p.y);
  line += ' ';
  append_number(line, p.z);
  return line;
}

std::string integer_text(uint64_t value) {
  std::string out;
  append_integer(out, value);
  return out;
}

}  // namespace

Status write_vtp(const NodeList& nodes, const std::optional<std::string>& filename) {
  const std::size_t n = nodes.size();
  const std::string points =
      join(pool::parallel_map<std::string>(n, [&](std::size_t i) { return point_line(nodes[i]); }),
           '\n');
  const std::string connectivity =
      join(pool::parallel_map<std::string>(n, [](std::size_t i) { return integer_text(i); }), ' ');
  const std::string offsets = join(
      pool::parallel_map<std::string>(n, [](std::size_t i) { return integer_text(i + 1); }), ' ');

  auto file = File::create(filename.value_or("points.vtp"));
  if (!file) return fail_with(file.error());
  BufferedWriter out(std::move(*file));
  const std::string count = integer_text(n);
  const std::string parts[] = {
      "<?xml version=\"1.0\"?>\n"
      "<VTKFile type=\"PolyData\" version=\"1.1\" byte_order=\"LittleEndian\">\n"
      "  <PolyData>\n"
      "    <Piece NumberOfPoints=\"",
      count,
      "\" NumberOfVerts=\"",
      count,
      "\">\n"
      "      <Points>\n"
      "        <DataArray type=\"Float64\" Name=\"Points\" NumberOfComponents=\"3\" "
      "format=\"ascii\">\n",
      points,
      "\n"
      "        </DataArray>\n"
      "      </Points>\n"
      "      <Verts>\n"
      "        <DataArray type=\"Int64\" Name=\"connectivity\" format=\"ascii\">\n",
      kIndent,
      connectivity,
      "\n"
      "        </DataArray>\n"
      "        <DataArray type=\"Int64\" Name=\"offsets\" format=\"ascii\">\n",
      kIndent,
      offsets,
      "\n"
      "        </DataArray>\n"
      "      </Verts>\n"
      "    </Piece>\n"
      "  </PolyData>\n"
      "</VTKFile>\n",
  };
  for (const std::string& part : parts)
    if (auto ok = out.write(part); !ok) return ok;
  return out.finish();
}

}  // namespace velk::io
