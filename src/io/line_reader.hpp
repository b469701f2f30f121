// The line reader of the readers: a buffered reader that gives whole lines under the UTF-8 and
// length rules, exact byte counts, or a look ahead; and the memory refusal that names the file
// a reader was reading.
#pragma once

#include <cstddef>
#include <cstdint>
#include <new>
#include <optional>
#include <string>
#include <string_view>

#include "core/checked_size.hpp"
#include "io/file_handle.hpp"

namespace velk::io {

// The longest text line the readers take: 16 MiB.
inline constexpr std::size_t kMaxLineBytes = std::size_t{16} << 20;

// Runs a reader over the named file; running out of memory is refused with a text that names
// the file (a MemoryRefused, whose text reaches the user), not a bare std::bad_alloc.
template <class Read>
auto naming_memory(const std::string& filename, Read&& read) -> decltype(read()) {
  try {
    return read();
  } catch (const sizes::MemoryRefused&) {
    throw;
  } catch (const std::bad_alloc&) {
    throw sizes::MemoryRefused(sizes::out_of_memory_text("reading \"" + filename + "\""));
  }
}

// Reads through an 8192-byte buffer: whole lines, exact byte counts, or a look at what comes
// next. It never seeks, so a pipe reads like a file.
class BufferedReader {
 public:
  explicit BufferedReader(File file) : file_(std::move(file)) {}

  // The next size bytes (at most kBufferSize; fewer only at end of file), left unread.
  Result<std::string_view> peek(std::size_t size);
  // Exactly size bytes, or "failed to fill whole buffer" at end of file.
  Status read_exact(char* data, std::size_t size);
  // The next line without its "\n" (and a "\r" just before it). false at end of file. A line
  // that is not valid UTF-8 fails with "stream did not contain valid UTF-8"; a line longer than
  // kMaxLineBytes fails as invalid data before more memory is used.
  Result<bool> read_line(std::string& line);
  std::optional<uint64_t> regular_size() const { return file_.regular_size(); }

 private:
  // One read into data (at most size bytes, fewer at end of file). Returns the count.
  Result<std::size_t> read_once(char* data, std::size_t size);
  Status fill();
  File file_;
  char buffer_[kBufferSize];
  std::size_t begin_ = 0;
  std::size_t end_ = 0;
};

}  // namespace velk::io
