// The lenient OBJ reader: only "v" and "f" lines with enough words add anything; a malformed
// line is skipped or read as far as it goes, never an error. A face naming a vertex the file
// does not define fails the read. Faces of any corner count are
// split as a fan; relative (negative) indices are resolved.
#include <vector>

#include "io/line_reader.hpp"
#include "io/number_read.hpp"
#include "io/obj.hpp"
#include "io/text_words.hpp"

namespace velk::io {

namespace {

// An unreadable coordinate reads as 0.0.
double coordinate(std::string_view word) {
  return parse_float(word).value_or(0.0);
}

// The index before the first "/", 1-based in the file, as a 0-based node index; nothing for an
// unreadable word. A relative index -k counts back from the last of the `nodes_read` vertices
// read so far; one that points before the first vertex (or -0) is unreadable.
std::optional<uint64_t> face_index(std::string_view word, uint64_t nodes_read) {
  const std::size_t slash = word.find('/');
  if (slash != word.npos) word = word.substr(0, slash);
  if (!word.empty() && word[0] == '-') {
    word.remove_prefix(1);
    if (word.empty() || word[0] == '+') return std::nullopt;
    const auto back = parse_index(word);
    if (!back || *back == 0 || *back > nodes_read) return std::nullopt;
    return nodes_read - *back;
  }
  const auto value = parse_index(word);
  if (!value) return std::nullopt;
  return *value - 1;  // an index 0 wraps, as unsigned arithmetic does
}

// The faces (lines that make cells) that name a vertex not yet read when they are read. A file may
// name a vertex it defines further down, so they are judged at the end of the file, against every
// vertex read; the first (in file order) that names one beyond them fails the read. Only a face
// naming a larger vertex than every face kept before it is kept: the first failing face is always
// among those, and a valid file keeps none or few.
class ForwardFaces {
 public:
  void note(uint64_t line, uint64_t index) {
    if (kept_.empty() || index > kept_.back().index) kept_.push_back({line, index});
  }
  Status check(uint64_t nodes) const {
    for (const Face& face : kept_)
      if (face.index >= nodes)
        return fail_with(
            io_failure(IoKind::InvalidData, "face on line " + std::to_string(face.line) +
                                                " names vertex " + std::to_string(face.index + 1) +
                                                ", which the file does not define"));
    return {};
  }

 private:
  struct Face {
    uint64_t line;
    uint64_t index;  // 0-based; an index 0 in the file wraps to the largest value
  };
  std::vector<Face> kept_;
};

Result<Mesh> read_obj_file(const std::string& filename) {
  auto file = File::open_read(filename);
  if (!file) return fail_with(file.error());
  BufferedReader in(std::move(*file));
  Mesh mesh;
  std::string line;
  std::vector<std::string_view> words;
  std::vector<uint64_t> indices;
  ForwardFaces forward;
  for (uint64_t number = 1;; ++number) {
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
        if (auto index = face_index(words[i], mesh.nodes.size())) indices.push_back(*index);
      if (indices.size() >= 3)
        for (uint64_t index : indices)
          if (index >= mesh.nodes.size()) forward.note(number, index);
      // A fan from the first corner: (i0, i1, i2), (i0, i2, i3), ...; a quad gives two cells.
      for (std::size_t k = 1; k + 1 < indices.size(); ++k)
        mesh.cells.push_back({indices[0], indices[k], indices[k + 1]});
    }
  }
  if (auto ok = forward.check(mesh.nodes.size()); !ok) return fail_with(ok.error());
  return mesh;
}

}  // namespace

Result<Mesh> read_obj(const std::string& filename) {
  return naming_memory(filename, [&] { return read_obj_file(filename); });
}

}  // namespace velk::io
