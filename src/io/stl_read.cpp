// The STL reader: form detection from the first 512 bytes, then the ASCII reader (vertex lines
// only, corners taken three at a time) or the binary reader (50-byte records after the count).
#include <algorithm>
#include <bit>
#include <cstring>
#include <vector>

#include "core/worker_pool.hpp"
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

// Records the binary reader takes from the file at a time (about 1.6 MB).
constexpr std::size_t kBlockRecords = 32768;
// Files with fewer corners are merged on the calling thread alone.
constexpr uint64_t kParallelCorners = 65536;
// Corners ahead of the current one whose table slots are fetched into the cache.
constexpr std::size_t kPrefetchDistance = 16;

FloatKey corner_key(const char* in) {
  return {quiet_nan_bits(get_u32(in)), quiet_nan_bits(get_u32(in + 4)),
          quiet_nan_bits(get_u32(in + 8))};
}

const char* corner_at(const char* records, std::size_t corner) {
  return records + (corner / 3) * 50 + 12 + (corner % 3) * 12;
}

// The merge of a binary file's corners, block after block. Keys are split between partitions
// by their hash, each partition's table on its own thread, and a table remembers the position
// of the key's first corner. A serial pass then numbers the first corners in file order (a bit
// per corner position marks them, with a count per 64 positions), so node numbers and cells
// are those of merging the corners one by one, whatever the number of partitions.
class BinaryMerge {
 public:
  BinaryMerge(uint64_t announced_corners, uint64_t room_corners) {
    const std::size_t parts =
        announced_corners >= kParallelCorners ? std::min<std::size_t>(pool::thread_count(), 8) : 1;
    // A typical closed surface has about one node for every six corners.
    const std::size_t expected = static_cast<std::size_t>(room_corners / 6 / parts);
    tables_.reserve(parts);
    for (std::size_t p = 0; p < parts; ++p) tables_.emplace_back(expected);
    firsts_.resize(parts);
    nodes_.reserve(static_cast<std::size_t>(room_corners));
    cells_.reserve(static_cast<std::size_t>(room_corners / 3));
  }

  // Merges the corners of count 50-byte records.
  void add(const char* records, std::size_t count) {
    const std::size_t corners = count * 3;
    const std::size_t parts = tables_.size();
    hashes_.resize(corners);
    pool::parallel_for(
        corners,
        [&](std::size_t j) { hashes_[j] = float_key_hash(corner_key(corner_at(records, j))); },
        2 * kBlockRecords);
    for (auto& f : firsts_) f.resize(corners);
    if (parts == 1)
      find_firsts(records, corners, 0);
    else
      pool::parallel_for(parts, [&](std::size_t p) { find_firsts(records, corners, p); });
    number_corners(records, corners);
  }

  Mesh take() { return Mesh{std::move(nodes_), std::move(cells_)}; }

 private:
  std::size_t partition(uint64_t hash) const { return ((hash >> 32) * tables_.size()) >> 32; }

  // The first position of each corner of partition p, into firsts_[p].
  void find_firsts(const char* records, std::size_t corners, std::size_t p) {
    CornerTable& table = tables_[p];
    uint32_t* first = firsts_[p].data();
    const bool all = tables_.size() == 1;
    for (std::size_t j = 0; j < corners; ++j) {
      if (j + kPrefetchDistance < corners) {
        const uint64_t ahead = hashes_[j + kPrefetchDistance];
        if (all || partition(ahead) == p) table.prefetch(ahead);
      }
      const uint64_t h = hashes_[j];
      if (!all && partition(h) != p) continue;
      first[j] = table.find_or_insert(corner_key(corner_at(records, j)), h,
                                      static_cast<uint32_t>(merged_ + j));
    }
  }

  // Node numbers of the block's corners in file order: a first corner becomes the next node,
  // any other takes the number of its key's first corner (the first corners before it).
  void number_corners(const char* records, std::size_t corners) {
    seen_.resize((merged_ + corners + 63) / 64);
    seen_before_.resize(seen_.size());
    const bool all = tables_.size() == 1;
    uint64_t node[3];
    for (std::size_t j = 0; j < corners; ++j) {
      const uint64_t pos = merged_ + j;
      const std::size_t word = static_cast<std::size_t>(pos >> 6);
      if ((pos & 63) == 0) {
        seen_[word] = 0;
        seen_before_[word] = static_cast<uint32_t>(nodes_.size());
      }
      const uint64_t first = firsts_[all ? 0 : partition(hashes_[j])][j];
      uint64_t id;
      if (first == pos) {
        seen_[word] |= uint64_t{1} << (pos & 63);
        id = nodes_.size();
        nodes_.push_back(get_point(corner_at(records, j)));
      } else {
        const std::size_t w = static_cast<std::size_t>(first >> 6);
        const uint64_t below = (uint64_t{1} << (first & 63)) - 1;
        id = seen_before_[w] + static_cast<uint64_t>(std::popcount(seen_[w] & below));
      }
      node[j % 3] = id;
      if (j % 3 == 2) cells_.push_back({node[0], node[1], node[2]});
    }
    merged_ += corners;
  }

  std::vector<CornerTable> tables_;
  std::vector<uint64_t> hashes_;               // of the block's corners
  std::vector<std::vector<uint32_t>> firsts_;  // per partition, for its corners of the block
  std::vector<uint64_t> seen_;                 // a bit per position: the key's first corner
  std::vector<uint32_t> seen_before_;          // first corners before each 64 positions
  uint64_t merged_ = 0;                        // corners merged so far
  NodeList nodes_;
  CellList cells_;
};

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
  BinaryMerge merge(uint64_t{count} * 3, room * 3);
  std::vector<char> block(std::min<std::size_t>(std::max<uint64_t>(room, 1), kBlockRecords) * 50);
  for (uint32_t done = 0; done < count;) {
    const std::size_t n = std::min<std::size_t>(count - done, kBlockRecords);
    if (block.size() < n * 50) block.resize(n * 50);
    if (auto ok = in.read_exact(block.data(), n * 50); !ok) return fail_with(ok.error());
    merge.add(block.data(), n);
    done += static_cast<uint32_t>(n);
  }
  return merge.take();
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
