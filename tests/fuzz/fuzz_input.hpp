// What the fuzz targets share: the fuzzer's bytes as a file the readers can open by name (an
// anonymous in-memory file reached through /proc/self/fd), a scratch file path to write into,
// and bitwise comparison of lists.
#pragma once

#include <sys/mman.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

namespace velk::fuzz {

class MemoryFile {
 public:
  MemoryFile() : fd_(memfd_create("velk-fuzz", 0)) {
    if (fd_ < 0) std::abort();
  }
  ~MemoryFile() { close(fd_); }
  MemoryFile(const MemoryFile&) = delete;
  MemoryFile& operator=(const MemoryFile&) = delete;

  // Replaces the contents with the given bytes.
  void fill(const uint8_t* data, std::size_t size) {
    if (ftruncate(fd_, 0) != 0) std::abort();
    std::size_t done = 0;
    while (done < size) {
      const ssize_t n = pwrite(fd_, data + done, size - done, static_cast<off_t>(done));
      if (n <= 0) std::abort();
      done += static_cast<std::size_t>(n);
    }
  }
  std::string path() const { return "/proc/self/fd/" + std::to_string(fd_); }

 private:
  int fd_;
};

// A path for the round-trip writes: a per-process file in the temporary folder.
inline std::string scratch_path(const char* suffix) {
  const char* folder = std::getenv("TMPDIR");
  return std::string(folder && *folder ? folder : "/tmp") + "/velk-fuzz-" +
         std::to_string(getpid()) + suffix;
}

// Bitwise equality of two node lists (NaN payloads and signed zeros included).
template <class Nodes>
bool same_bits(const Nodes& a, const Nodes& b) {
  return a.size() == b.size() &&
         (a.empty() || std::memcmp(a.data(), b.data(), a.size() * sizeof(a[0])) == 0);
}

}  // namespace velk::fuzz
