// The STL writers. Every cell's corners are checked before the file is created, so an internal
// failure (a cell naming a missing node) leaves any old file untouched; the facets are then
// formatted on the worker pool a chunk (a few MB) at a time into reused buffers, written in
// order.
#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>
#include <limits>

#include "core/internal_failure.hpp"
#include "core/worker_pool.hpp"
#include "io/chunked_writer.hpp"
#include "io/number_text.hpp"
#include "io/stl.hpp"

namespace velk::io {

namespace {

constexpr char kBinaryHeader[] = "Binary STL generated with VELK";
constexpr std::size_t kRecordSize = 50;
constexpr std::size_t kHeaderSize = 84;
// Records per chunk of the binary writer (about 2 MB) and facets per chunk of the ASCII one
// (about 1.5 MB of text).
constexpr std::size_t kChunkRecords = 40960;
constexpr std::size_t kChunkFacets = 8192;
// A chunk with fewer records than this is formatted on the calling thread.
constexpr std::size_t kParallelRecords = 2048;
// Cells whose corners are checked on one thread before the checks are split.
constexpr std::size_t kParallelChecks = 65536;

// The first cell (in cell order) naming a missing node ends the call, as its formatting would.
void check_corners(const NodeList& nodes, const CellList& cells) {
  pool::run_blocks(cells.size(), kParallelChecks, [&](std::size_t begin, std::size_t end) {
    for (std::size_t i = begin; i < end; ++i) {
      checked_at(nodes, cells[i].a);
      checked_at(nodes, cells[i].b);
      checked_at(nodes, cells[i].c);
    }
  });
}

void append_triple(std::string& out, const Point3& p) {
  append_number(out, p.x);
  out += ' ';
  append_number(out, p.y);
  out += ' ';
  append_number(out, p.z);
}

// The facet's text and the line break after it.
void append_facet(std::string& out, const NodeList& nodes, const Triangle& t) {
  const Point3& a = checked_at(nodes, t.a);
  const Point3& b = checked_at(nodes, t.b);
  const Point3& c = checked_at(nodes, t.c);
  out += "  facet normal ";
  append_triple(out, facet_normal(a, b, c));
  out += "\n    outer loop\n";
  for (const Point3* p : {&a, &b, &c}) {
    out += "      vertex ";
    append_triple(out, *p);
    out += '\n';
  }
  out += "    endloop\n  endfacet\n";
}

void put_u32(char* out, uint32_t v) {
  if constexpr (std::endian::native == std::endian::big) v = std::byteswap(v);
  std::memcpy(out, &v, 4);
}

void put_point(char* out, const Point3& p) {
  // Each coordinate rounded to the nearest 32-bit float.
  put_u32(out, std::bit_cast<uint32_t>(static_cast<float>(p.x)));
  put_u32(out + 4, std::bit_cast<uint32_t>(static_cast<float>(p.y)));
  put_u32(out + 8, std::bit_cast<uint32_t>(static_cast<float>(p.z)));
}

void put_record(char* out, const NodeList& nodes, const Triangle& t) {
  const Point3& a = checked_at(nodes, t.a);
  const Point3& b = checked_at(nodes, t.b);
  const Point3& c = checked_at(nodes, t.c);
  put_point(out, facet_normal(a, b, c));
  put_point(out + 12, a);
  put_point(out + 24, b);
  put_point(out + 36, c);
  out[48] = out[49] = 0;  // attribute byte count 0
}

Status write_ascii(const NodeList& nodes, const CellList& cells, const std::string& name) {
  check_corners(nodes, cells);
  const std::size_t n = cells.size();
  const std::size_t chunks = std::max<std::size_t>(1, (n + kChunkFacets - 1) / kChunkFacets);
  // A chunk's facets are split into as many pieces as the pool has threads, each piece's text
  // built apart and the pieces joined in order. Formatting text costs far more than writing it,
  // so every thread formats.
  std::vector<std::string> pieces(std::min<std::size_t>(pool::thread_count(), 64));
  auto fill = [&](std::size_t k, std::string& out) {
    const std::size_t begin = k * kChunkFacets, count = std::min(n, begin + kChunkFacets) - begin;
    pool::parallel_for(pieces.size(), [&](std::size_t p) {
      std::string& piece = pieces[p];
      piece.clear();
      const std::size_t from = begin + count * p / pieces.size();
      const std::size_t to = begin + count * (p + 1) / pieces.size();
      for (std::size_t i = from; i < to; ++i) append_facet(piece, nodes, cells[i]);
    });
    out.clear();
    if (k == 0) out += "solid exported_grid\n";
    for (const std::string& piece : pieces) out += piece;
    if (k + 1 == chunks) out += "endsolid exported_grid\n";
  };
  return write_in_chunks(name, chunks, ChunkFilling::BetweenWrites, fill);
}

Status write_binary(const NodeList& nodes, const CellList& cells, const std::string& name) {
  // The count field is 32 bits wide: a longer cell list cannot be represented.
  if (cells.size() > std::numeric_limits<uint32_t>::max())
    return fail_with(io_failure(
        IoKind::InvalidInput, "Too many triangles for binary STL: " + std::to_string(cells.size()) +
                                  " (at most 4294967295)"));
  check_corners(nodes, cells);
  const std::size_t n = cells.size();
  const std::size_t chunks = std::max<std::size_t>(1, (n + kChunkRecords - 1) / kChunkRecords);
  auto fill = [&](std::size_t k, std::string& out) {
    const std::size_t begin = k * kChunkRecords, count = std::min(n, begin + kChunkRecords) - begin;
    const std::size_t head = k == 0 ? kHeaderSize : 0;
    // Every byte is overwritten below, so a buffer of the same size is not cleared again.
    out.resize(head + count * kRecordSize);
    char* data = out.data();
    if (k == 0) {
      std::memset(data, 0, 80);
      std::memcpy(data, kBinaryHeader, sizeof kBinaryHeader - 1);
      put_u32(data + 80, static_cast<uint32_t>(n));
    }
    char* records = data + head;
    pool::run_blocks(count, kParallelRecords, [&](std::size_t from, std::size_t to) {
      for (std::size_t i = from; i < to; ++i)
        put_record(records + i * kRecordSize, nodes, cells[begin + i]);
    });
  };
  // Records cost about as much to format as to write, so the next chunk is formatted while
  // the current one is written.
  return write_in_chunks(name, chunks, ChunkFilling::WhileWriting, fill);
}

}  // namespace

// Kept out of line: which operand of an operation comes first decides the sign and payload of a
// NaN result, so every writer calls this one compiled body and NaN normals keep their bytes.
// Its order of operations differs on purpose from Mesh's cell_normals (core/mesh.cpp): z is
// e1x·e2y − e1y·e2x, the length is √((x² + y²) + z²), and a length at most EPS leaves n
// unscaled. Each formula fixes the bits of its own results, so the two must not be merged.
[[gnu::noinline]] Point3 facet_normal(const Point3& a, const Point3& b, const Point3& c) {
  const Point3 e1 = b - a;
  const Point3 e2 = c - a;
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
