// The lenient OBJ reader: only "v" and "f" lines with enough words add anything; a malformed
// line is skipped or read as far as it goes, never an error.
#include <vector>

#include "io/file.hpp"
#include "io/number_read.hpp"
#include "io/obj.hpp"
#include "io/text_words.hpp"

namespace velk::io {

namespace {

// An unreadable coordinate reads as 0.0.
double coordinate(std::string_view word) {
  return parse_float(word).value_or(0.0);
}

// The index before the first "/", 1-based in the file; nothing for an unreadable word.
std::optional<uint64_t> face_index(std::string_view word) {
  const std::size_t slash = word.find('/');
  if (slash != word.npos) word = word.substr(0, slash);
  const auto value = parse_index(word);
  if (!value) return std::nullopt;
  return *value - 1;  // an index 0 wraps, as unsigned arithmetic does
}

}  // namespace

Result<Mesh> read_obj(const std::string& filename) {
  auto file = File::open_read(filename);
  if (!file) return fail_with(file.error());
  BufferedReader in(std::move(*file));
  Mesh mesh;
  std::string line;
  std::vector<std::string_view> words;
  std::vector<uint64_t> indices;
  for (;;) {
    auto more = in.read_line(line);
    if (!more) return fail_with(more.error());
    if (!*more) break;
    words.clear();
    for_each_word(line, [&](std::string_view w) {
      words.push_back(w);
      return true;
    });
    if (words.size() < 4) continue;  // "v" and "f" both need four words
    if (words[0] == "v") {
      mesh.nodes.push_back({coordinate(words[1]), coordinate(words[2]), coordinate(words[3])});
    } else if (words[0] == "f") {
      indices.clear();
      for (std::size_t i = 1; i < words.size(); ++i)
        if (auto index = face_index(words[i])) indices.push_back(*index);
      if (indices.size() == 3) {
        mesh.cells.push_back({indices[0], indices[1], indices[2]});
      } else if (indices.size() == 4) {
        mesh.cells.push_back({indices[0], indices[1], indices[2]});
        mesh.cells.push_back({indices[0], indices[2], indices[3]});
      }
    }
  }
  return mesh;
}

}  // namespace velk::io
