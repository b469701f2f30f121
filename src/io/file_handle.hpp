// The file handle of the readers and writers: an owned file descriptor over the C library's
// open, read, write and close. Every failure comes back as a FileSystem Error; the descriptor is
// closed on every path. How a file opened for writing replaces its target is in
// atomic_replace.cpp.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "core/error.hpp"

namespace velk::io {

// The size of the readers' and writers' buffers.
inline constexpr std::size_t kBufferSize = 8192;

// An input/output failure described by the I/O layer itself (no error number).
inline Error io_failure(IoKind kind, std::string message) {
  return Error::file_system(IoFailure::described(kind, std::move(message)));
}

// A name with a NUL byte would silently name a shorter path; it is refused instead.
Status check_file_name(const std::string& name);

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

}  // namespace velk::io
