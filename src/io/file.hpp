// Files of the readers and writers: an owned file descriptor over the C library's open, read,
// write, seek and close, the 8192-byte buffered writer and reader built on it, and the writing
// of a file as a sequence of large chunks. Every failure comes back as a FileSystem Error; the
// descriptor is closed on every path.
#pragma once

#include <cstddef>
#include <cstdint>
#include <new>
#include <optional>
#include <string>
#include <string_view>

#include "core/checked_size.hpp"
#include "core/error.hpp"
#include "core/worker_pool.hpp"

namespace velk::io {

inline constexpr std::size_t kBufferSize = 8192;
// The longest text line the readers take: 16 MiB.
inline constexpr std::size_t kMaxLineBytes = std::size_t{16} << 20;

class File {
 public:
  // Opens an existing file for reading.
  static Result<File> open_read(const std::string& name);
  // Opens a file for writing, by open(name, "w")'s rules. Symbolic links are followed to the
  // file they name, which is created when missing (the link is kept; a link into a missing
  // folder fails as open does). An existing file the caller may not write is refused with
  // open's error. A regular target is written as a new file in the same folder (unnamed where
  // the system allows, so that a crash leaves nothing behind; else
  // ".<name>.velk-incomplete-<pid>-<n>.tmp"), which close() syncs to disk and puts in its
  // place: a failed or interrupted write leaves the old file, never a partial one. A new file
  // gets mode 0666 before the process mask, a replaced one keeps its mode. A file that a
  // replacement would change for others (another owner or group, several hard links), any
  // other target (a FIFO, a device such as /dev/full), or a folder where no new file can be
  // made, is truncated and written in place.
  static Result<File> create(const std::string& name);

  File(File&& other) noexcept
      : fd_(other.fd_),
        temporary_(std::move(other.temporary_)),
        target_(std::move(other.target_)),
        unnamed_(other.unnamed_) {
    other.fd_ = -1;
    other.temporary_.clear();
    other.target_.clear();
  }
  File& operator=(File&& other) noexcept;
  File(const File&) = delete;
  File& operator=(const File&) = delete;
  // Closes the file; an unfinished temporary file is removed.
  ~File();

  // Writes all bytes; a write that stores nothing fails with "failed to write whole buffer".
  Status write_all(const char* data, std::size_t size);
  Status write_all(std::string_view bytes) { return write_all(bytes.data(), bytes.size()); }
  // One read of at most size bytes; 0 means end of file.
  Result<std::size_t> read_some(char* data, std::size_t size);
  // Size in bytes when the file is a regular file, otherwise none.
  std::optional<uint64_t> regular_size() const;
  // Closes the file and reports a failure of the close itself; a new file replacing its
  // target is first synced to disk, then put in its place (or removed if that fails), and the
  // folder is synced after.
  Status close();

  // Takes over an open descriptor, written in place.
  static File adopt(int fd) { return File(fd); }

 private:
  explicit File(int fd) : fd_(fd) {}
  void discard_temporary() noexcept;
  // Syncs the new file and gives an unnamed one its name.
  Status publish(int fd);
  int fd_ = -1;
  std::string temporary_;  // the named temporary file being written or linked, if any
  std::string target_;     // what the new file replaces, empty when writing in place
  bool unnamed_ = false;   // the new file has no name yet (O_TMPFILE)
};

// Collects small writes into an 8192-byte buffer; writes as large as the buffer go straight to
// the file. finish() flushes the rest and closes the file, reporting either failure.
class BufferedWriter {
 public:
  explicit BufferedWriter(File file) : file_(std::move(file)) { buffer_.reserve(kBufferSize); }
  Status write(std::string_view bytes);
  Status finish();

 private:
  Status flush();
  File file_;
  std::string buffer_;
};

// How write_in_chunks fills the chunks after the first: on the calling thread between writes
// (fill may spread its work over the pool), or on a worker while the calling thread writes the
// chunk before (fill then runs on that one thread), which hides the formatting behind the
// system calls when writing costs about as much as formatting.
enum class ChunkFilling { BetweenWrites, WhileWriting };

// Creates the file and writes it as chunks in order: fill(k, buffer) makes a reused buffer hold
// chunk k (it holds an earlier chunk on entry), which is then written whole. Closing the file
// ends the write and its failure is reported. The one place where a chunked writer's file is
// opened, written and closed.
template <class Fill>
Status write_in_chunks(const std::string& name, std::size_t chunks, ChunkFilling filling,
                       Fill&& fill) {
  auto file = File::create(name);
  if (!file) return fail_with(file.error());
  std::string buffers[2];
  if (chunks > 0) fill(0, buffers[0]);
  for (std::size_t k = 0; k < chunks; ++k) {
    const std::string& current = buffers[k % 2];
    std::string& next = buffers[(k + 1) % 2];
    Status written;
    if (k + 1 == chunks) {
      written = file->write_all(current);
    } else if (filling == ChunkFilling::WhileWriting) {
      // The write stays on the calling thread, where a Ctrl-C can end it even when it blocks
      // (a stalled pipe); the next chunk is filled on a worker meanwhile.
      bool wrote = false;
      pool::run_blocks(
          1, 1, [&](std::size_t, std::size_t) { fill(k + 1, next); },
          [&] {
            written = file->write_all(current);
            wrote = true;
            return false;
          });
      if (!wrote) written = file->write_all(current);
    } else {
      written = file->write_all(current);
      if (written) fill(k + 1, next);
    }
    if (!written) return written;
  }
  return file->close();
}

// Runs a reader over the named file; running out of memory is refused with a text that names
// the file (a MemoryRefused, whose text reaches the user), not a bare std::bad_alloc.
template <class Read>
auto naming_memory(const std::string& filename, Read&& read) -> decltype(read()) {
  try {
    return read();
  } catch (const sizes::MemoryRefused&) {
    throw;
  } catch (const std::bad_alloc&) {
    throw sizes::MemoryRefused("reading \"" + filename +
                               "\" needs more memory than this process can get");
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
