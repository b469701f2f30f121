// The STL reader: form detection from the first 512 bytes, then the ASCII reader (vertex lines
// only, corners taken three at a time) or the binary reader (50-byte records after the count).
#include <bit>
#include <cstring>

#include "io/file.hpp"
#include "io/number_read.hpp"
#include "io/stl.hpp"
#include "io/text_words.hpp"
#include "io/vertex_merge.hpp"

namespace velk::io {

namespace {

constexpr uint32_t kMaxTriangles = 10000000;

bool looks_like_ascii(std::string_view head) {
  if (!is_valid_utf8(head)) return false;
  return trim_start(head).starts_with("solid") && head.find("facet normal") != head.npos;
}

// The corner of a vertex line: exactly three words after the first that parse as floats, the
// others being skipped.
std::optional<Point3> vertex_corner(std::string_view line) {
  double values[3];
  int count = 0;
  bool first = true;
  for_each_word(line, [&](std::string_view word) {
    if (first) {
      first = false;
      return true;
    }
    if (auto v = parse_float(word)) {
      if (count == 3) {
        count = 4;
        return false;  // more than three numbers: the line is ignored
      }
      values[count++] = *v;
    }
    return true;
  });
  if (count != 3) return std::nullopt;
  return Point3{values[0], values[1], values[2]};
}

Result<Mesh> read_ascii(BufferedReader& in) {
  VertexMerger merger;
  CellList cells;
  uint64_t pending[3];
  int corner = 0;
  std::string line;
  for (;;) {
    auto more = in.read_line(line);
    if (!more) return fail_with(more.error());
    if (!*more) break;
    const std::string_view text = trim(line);
    if (!text.starts_with("vertex")) continue;
    const auto p = vertex_corner(text);
    if (!p) continue;
    pending[corner] = merger.merge(*p);
    if (corner == 2) {
      cells.push_back({pending[0], pending[1], pending[2]});
      corner = 0;
    } else {
      ++corner;
    }
  }
  return Mesh{merger.take_nodes(), std::move(cells)};
}

uint32_t get_u32(const char* in) {
  uint32_t v = 0;
  for (int i = 3; i >= 0; --i) v = (v << 8) | static_cast<unsigned char>(in[i]);
  return v;
}

Point3 get_point(const char* in) {
  return {static_cast<double>(std::bit_cast<float>(get_u32(in))),
          static_cast<double>(std::bit_cast<float>(get_u32(in + 4))),
          static_cast<double>(std::bit_cast<float>(get_u32(in + 8)))};
}

Result<Mesh> read_binary(BufferedReader& in) {
  if (auto ok = in.seek(80); !ok) return fail_with(ok.error());
  char count_bytes[4];
  if (auto ok = in.read_exact(count_bytes, 4); !ok) return fail_with(ok.error());
  const uint32_t count = get_u32(count_bytes);
  if (count > kMaxTriangles)
    return fail_with(Error::file_system(
        IoFailure::described(IoKind::InvalidData, "Too many triangles: " + std::to_string(count))));
  // Room for no more triangles than the file still holds, so a short file announcing many
  // triangles costs nothing before it fails.
  uint64_t room = count;
  if (const auto size = in.regular_size())
    room = std::min<uint64_t>(room, *size > 84 ? (*size - 84) / 50 : 0);
  else
    room = 0;
  VertexMerger merger;
  merger.reserve(static_cast<std::size_t>(room) * 3);
  CellList cells;
  cells.reserve(static_cast<std::size_t>(room));
  char record[50];
  for (uint32_t i = 0; i < count; ++i) {
    if (auto ok = in.read_exact(record, sizeof record); !ok) return fail_with(ok.error());
    const uint64_t a = merger.merge(get_point(record + 12));
    const uint64_t b = merger.merge(get_point(record + 24));
    const uint64_t c = merger.merge(get_point(record + 36));
    cells.push_back({a, b, c});
  }
  return Mesh{merger.take_nodes(), std::move(cells)};
}

}  // namespace

Result<Mesh> read_stl(const std::string& filename) {
  auto file = File::open_read(filename);
  if (!file) return fail_with(file.error());
  BufferedReader in(std::move(*file));
  char head[512];
  auto got = in.read_once(head, sizeof head);
  if (!got) return fail_with(got.error());
  const bool ascii = looks_like_ascii(std::string_view(head, *got));
  if (auto ok = in.seek(0); !ok) return fail_with(ok.error());
  return ascii ? read_ascii(in) : read_binary(in);
}

}  // namespace velk::io
