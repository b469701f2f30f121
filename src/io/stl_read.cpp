// The STL reader: form detection from the first 512 bytes (and a file's size, when a "solid"
// file is too short to be binary), looked at without seeking, then the ASCII reader (vertex lines
// only, corners taken three at a time) or the binary reader (50-byte records after the count,
// read and hashed a block ahead of the merge).
#include <algorithm>
#include <bit>
#include <cstring>
#include <vector>

#include "core/worker_pool.hpp"
#include "io/line_reader.hpp"
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
  // Where the last corner was read, and whether an "endsolid" line came after it: a file that
  // stops with one or two corners of a facet read and no "endsolid" was cut short.
  uint64_t corner_line = 0;
  bool closed = false;
  std::string line;
  for (uint64_t number = 1;; ++number) {
    auto more = in.read_line(line);
    if (!more) return fail_with(more.error());
    if (!*more) break;
    const std::string_view text = trim(line);
    if (!text.starts_with("vertex")) {
      if (text.starts_with("endsolid")) closed = true;
      continue;
    }
    const auto p = vertex_corner(text);
    if (!p) continue;
    corner_line = number;
    closed = false;
    pending[corner] = merger.merge(*p);
    if (corner == 2) {
      cells.push_back({pending[0], pending[1], pending[2]});
      corner = 0;
    } else {
      ++corner;
    }
  }
  if (corner != 0 && !closed)
    return fail_with(
        io_failure(IoKind::UnexpectedEof, "file ended inside a facet: " + std::to_string(corner) +
                                              " of its 3 corners read, the last on line " +
                                              std::to_string(corner_line)));
  return Mesh{merger.take_nodes(), std::move(cells)};
}

// A little-endian 32-bit field.
uint32_t get_u32(const char* in) {
  uint32_t v;
  std::memcpy(&v, in, 4);
  if constexpr (std::endian::native == std::endian::big) v = std::byteswap(v);
  return v;
}

Point3 get_point(const char* in) {
  return {static_cast<double>(std::bit_cast<float>(get_u32(in))),
          static_cast<double>(std::bit_cast<float>(get_u32(in + 4))),
          static_cast<double>(std::bit_cast<float>(get_u32(in + 8)))};
}

// Records the binary reader takes from the file at a time (about 1.6 MB).
constexpr std::size_t kBlockRecords = 32768;
// How many corners ahead of the one being merged the table slot is fetched into the cache.
constexpr std::size_t kAhead = 32;

FloatKey corner_key(const char* in) {
  return {quiet_nan_bits(get_u32(in)), quiet_nan_bits(get_u32(in + 4)),
          quiet_nan_bits(get_u32(in + 8))};
}

const char* corner_at(const char* records, std::size_t corner) {
  return records + (corner / 3) * 50 + 12 + (corner % 3) * 12;
}

// Records read from the file and the hashes of their corners' keys.
struct Block {
  std::vector<char> records;
  std::vector<uint64_t> hashes;
  std::size_t count = 0;
};

// Reads the next count records into block and hashes their corners.
Status load(BufferedReader& in, Block& block, std::size_t count) {
  block.records.resize(count * 50);
  if (auto ok = in.read_exact(block.records.data(), count * 50); !ok) return ok;
  block.hashes.resize(count * 3);
  for (std::size_t j = 0; j < count * 3; ++j)
    block.hashes[j] = float_key_hash(corner_key(corner_at(block.records.data(), j)));
  block.count = count;
  return {};
}

// The merge of a binary file's corners, block after block, one corner at a time in file order.
// The table maps each key to its node number; the merging itself is bound by the table's memory
// latency, so the slots of later corners are fetched while a corner is merged.
class BinaryMerge {
 public:
  explicit BinaryMerge(uint64_t room_corners)
      // A typical closed surface has about one node for every six corners.
      : table_(static_cast<std::size_t>(room_corners / 6)) {
    nodes_.reserve(static_cast<std::size_t>(room_corners));
    cells_.reserve(static_cast<std::size_t>(room_corners / 3));
  }

  void add(const Block& block) {
    const std::size_t corners = block.count * 3;
    const uint64_t* hashes = block.hashes.data();
    for (std::size_t j = 0; j < std::min(corners, kAhead); ++j) table_.prefetch(hashes[j]);
    uint64_t node[3];
    for (std::size_t j = 0; j < corners; ++j) {
      if (j + kAhead < corners) table_.prefetch(hashes[j + kAhead]);
      const char* corner = corner_at(block.records.data(), j);
      const auto next = static_cast<uint32_t>(nodes_.size());
      const uint32_t id = table_.find_or_insert(corner_key(corner), hashes[j], next);
      if (id == next) nodes_.push_back(get_point(corner));
      node[j % 3] = id;
      if (j % 3 == 2) cells_.push_back({node[0], node[1], node[2]});
    }
  }

  Mesh take() { return Mesh{std::move(nodes_), std::move(cells_)}; }

 private:
  CornerTable table_;
  NodeList nodes_;
  CellList cells_;
};

Result<Mesh> read_binary(BufferedReader& in) {
  char header[80];  // never interpreted
  if (auto ok = in.read_exact(header, sizeof header); !ok) return fail_with(ok.error());
  char count_bytes[4];
  if (auto ok = in.read_exact(count_bytes, 4); !ok) return fail_with(ok.error());
  const uint32_t count = get_u32(count_bytes);
  if (count > kMaxTriangles)
    return fail_with(
        io_failure(IoKind::InvalidData, "Too many triangles: " + std::to_string(count)));
  // Room for no more triangles than the file still holds, so a short file announcing many
  // triangles costs nothing before it fails.
  uint64_t room = count;
  if (const auto size = in.regular_size())
    room = std::min<uint64_t>(room, *size > 84 ? (*size - 84) / 50 : 0);
  else
    room = 0;
  BinaryMerge merge(room * 3);
  // While one block is merged on a worker, the next is read and hashed on the calling thread,
  // where a Ctrl-C can end a read that blocks (a stalled pipe).
  Block blocks[2];
  std::size_t done = 0;
  if (count > 0)
    if (auto ok = load(in, blocks[0], std::min<std::size_t>(count, kBlockRecords)); !ok)
      return fail_with(ok.error());
  for (std::size_t k = 0; done < count; ++k) {
    const Block& current = blocks[k % 2];
    Block& next = blocks[(k + 1) % 2];
    const std::size_t after = done + current.count;
    const std::size_t following = std::min<std::size_t>(count - after, kBlockRecords);
    Status loaded;
    if (following == 0) {
      merge.add(current);
    } else {
      // The read stays on the calling thread, where a Ctrl-C can end it; the merge runs beside.
      pool::beside_caller([&] { merge.add(current); }, [&] { loaded = load(in, next, following); });
    }
    if (!loaded) return fail_with(loaded.error());
    done = after;
  }
  return merge.take();
}

// Whether a regular file is shorter than the binary layout its bytes 80-83 announce (or than
// the 84-byte header itself): such a file cannot be read as binary, so one that begins with
// "solid" but whose first facet lies beyond the detection window (a long solid name, or an
// empty solid) is read as ASCII instead.
bool too_short_for_binary(std::string_view head, const BufferedReader& in) {
  const auto size = in.regular_size();
  if (!size) return false;
  if (*size < 84 || head.size() < 84) return true;
  return *size < 84 + 50 * static_cast<uint64_t>(get_u32(head.data() + 80));
}

Result<Mesh> read_stl_file(const std::string& filename) {
  auto file = File::open_read(filename);
  if (!file) return fail_with(file.error());
  BufferedReader in(std::move(*file));
  // The form is told from bytes looked at in the buffer, never by seeking back, so an STL can
  // come from a pipe.
  auto first = in.peek(512);
  if (!first) return fail_with(first.error());
  const bool ascii = looks_like_ascii(*first) ||
                     (trim_start(*first).starts_with("solid") && too_short_for_binary(*first, in));
  return ascii ? read_ascii(in) : read_binary(in);
}

}  // namespace

Result<Mesh> read_stl(const std::string& filename) {
  return naming_memory(filename, [&] { return read_stl_file(filename); });
}

}  // namespace velk::io
