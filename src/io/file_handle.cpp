// The file descriptor handle: opening for reading, reads, writes, and its release.
#include "io/file_handle.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "core/interrupt.hpp"

namespace velk::io {

Status check_file_name(const std::string& name) {
  if (name.find('\0') != std::string::npos)
    return fail_with(
        io_failure(IoKind::InvalidInput, "file name contained an unexpected NUL byte"));
  return {};
}

Result<File> File::open_read(const std::string& name) {
  if (auto ok = check_file_name(name); !ok) return fail_with(ok.error());
  int fd;
  for (;;) {
    fd = ::open(name.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd >= 0 || errno != EINTR) break;
    interrupt::checkpoint();  // a FIFO with no writer blocks the open
  }
  if (fd < 0) return fail_with(Error::from_errno());
  return File(fd);
}

File& File::operator=(File&& other) noexcept {
  if (this != &other) {
    if (fd_ >= 0) ::close(fd_);
    discard_temporary();
    fd_ = other.fd_;
    temporary_ = std::move(other.temporary_);
    target_ = std::move(other.target_);
    unnamed_ = other.unnamed_;
    other.fd_ = -1;
    other.temporary_.clear();
    other.target_.clear();
  }
  return *this;
}

File::~File() {
  if (fd_ >= 0) ::close(fd_);
  discard_temporary();
}

Status File::write_all(const char* data, std::size_t size) {
  interrupt::checkpoint();  // between chunks of a write
  while (size > 0) {
    const ssize_t n = ::write(fd_, data, size);
    if (n < 0) {
      if (errno != EINTR) return fail_with(Error::from_errno());
      interrupt::checkpoint();  // a pending Ctrl-C ends a blocked write
      continue;
    }
    if (n == 0) return fail_with(io_failure(IoKind::WriteZero, "failed to write whole buffer"));
    data += n;
    size -= static_cast<std::size_t>(n);
    // A signal that arrives once a write has moved some bytes cuts it short instead of failing
    // it with EINTR (a pipe whose reader stalls), so a short write is checked as well.
    if (size > 0) interrupt::checkpoint();
  }
  return {};
}

Result<std::size_t> File::read_some(char* data, std::size_t size) {
  interrupt::checkpoint();  // between buffers of a read: an endless input never ignores Ctrl-C
  for (;;) {
    const ssize_t n = ::read(fd_, data, size);
    if (n >= 0) return static_cast<std::size_t>(n);
    if (errno != EINTR) return fail_with(Error::from_errno());
    interrupt::checkpoint();  // a pending Ctrl-C ends a blocked read
  }
}

std::optional<uint64_t> File::regular_size() const {
  struct stat st;
  if (::fstat(fd_, &st) != 0 || !S_ISREG(st.st_mode)) return std::nullopt;
  return static_cast<uint64_t>(st.st_size);
}

}  // namespace velk::io
