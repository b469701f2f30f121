// The file descriptor handle and the buffered writer and reader.
#include "io/file.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "core/interrupt.hpp"
#include "io/text_words.hpp"

namespace velk::io {

namespace {

Error described(IoKind kind, const char* message) {
  return Error::file_system(IoFailure::described(kind, message));
}

// A name with a NUL byte would silently name a shorter path; it is refused instead.
Status check_name(const std::string& name) {
  if (name.find('\0') != std::string::npos)
    return fail_with(described(IoKind::InvalidInput, "file name contained an unexpected NUL byte"));
  return {};
}

}  // namespace

Result<File> File::open_read(const std::string& name) {
  if (auto ok = check_name(name); !ok) return fail_with(ok.error());
  int fd;
  for (;;) {
    fd = ::open(name.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd >= 0 || errno != EINTR) break;
    interrupt::checkpoint();  // a FIFO with no writer blocks the open
  }
  if (fd < 0) return fail_with(Error::from_errno());
  return File(fd);
}

namespace {

// Opens name for writing in place (truncating it), as the C library's create does.
Result<int> open_in_place(const std::string& name) {
  for (;;) {
    const int fd = ::open(name.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (fd >= 0) return fd;
    if (errno != EINTR) return fail_with(Error::from_errno());
    interrupt::checkpoint();  // a FIFO with no reader blocks the open
  }
}

// The file a name refers to once symbolic links are followed; the name itself when it is not
// a link or its target cannot be resolved (a dangling link is then written in place).
std::string resolved_target(const std::string& name) {
  struct stat st;
  if (::lstat(name.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) return name;
  char* real = ::realpath(name.c_str(), nullptr);
  if (!real) return name;
  std::string out(real);
  std::free(real);
  return out;
}

// A fresh file beside target, ".<name>.<pid>-<n>.tmp", created exclusively with the given mode
// (before the process mask); -1 (errno set) when none can be made there.
int open_temporary(const std::string& target, mode_t mode, std::string& path) {
  const std::size_t slash = target.rfind('/');
  const std::string folder = slash == std::string::npos ? "" : target.substr(0, slash + 1);
  const std::string base = slash == std::string::npos ? target : target.substr(slash + 1);
  static unsigned counter = 0;
  for (int attempt = 0; attempt < 100; ++attempt) {
    path = folder + "." + base + "." + std::to_string(::getpid()) + "-" +
           std::to_string(counter++) + ".tmp";
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode);
    if (fd >= 0 || (errno != EEXIST && errno != EINTR)) return fd;
  }
  return -1;
}

Result<File> in_place(const std::string& name) {
  auto fd = open_in_place(name);
  if (!fd) return fail_with(fd.error());
  return File::adopt(*fd);
}

}  // namespace

Result<File> File::create(const std::string& name) {
  if (auto ok = check_name(name); !ok) return fail_with(ok.error());
  const std::string target = resolved_target(name);
  struct stat st;
  const bool exists = ::stat(target.c_str(), &st) == 0;
  // Not a regular file (a FIFO, a device, a folder), or not reachable: written in place, and
  // any failure of that is the one an in-place create reports.
  if ((exists && !S_ISREG(st.st_mode)) || (!exists && errno != ENOENT)) return in_place(name);
  std::string temporary;
  const int fd = open_temporary(target, exists ? (st.st_mode & 07777) : 0666, temporary);
  // No temporary file can be made in that folder (read-only, no write permission, missing).
  if (fd < 0) return in_place(name);
  // A replaced file keeps its mode exactly, whatever the process mask.
  if (exists) ::fchmod(fd, st.st_mode & 07777);
  File file(fd);
  file.temporary_ = std::move(temporary);
  file.target_ = target;
  return file;
}

File& File::operator=(File&& other) noexcept {
  if (this != &other) {
    if (fd_ >= 0) ::close(fd_);
    discard_temporary();
    fd_ = other.fd_;
    temporary_ = std::move(other.temporary_);
    target_ = std::move(other.target_);
    other.fd_ = -1;
    other.temporary_.clear();
  }
  return *this;
}

File::~File() {
  if (fd_ >= 0) ::close(fd_);
  discard_temporary();
}

void File::discard_temporary() noexcept {
  if (!temporary_.empty()) ::unlink(temporary_.c_str());
  temporary_.clear();
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
    if (n == 0) return fail_with(described(IoKind::WriteZero, "failed to write whole buffer"));
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

Status File::close() {
  const int fd = fd_;
  fd_ = -1;
  // The descriptor is released even when close reports EINTR; only real failures count.
  if (::close(fd) != 0 && errno != EINTR) {
    Error error = Error::from_errno();
    discard_temporary();
    return fail_with(std::move(error));
  }
  if (temporary_.empty()) return {};
  if (::rename(temporary_.c_str(), target_.c_str()) != 0) {
    Error error = Error::from_errno();
    discard_temporary();
    return fail_with(std::move(error));
  }
  temporary_.clear();
  return {};
}

Status BufferedWriter::flush() {
  if (buffer_.empty()) return {};
  Status ok = file_.write_all(buffer_);
  buffer_.clear();
  return ok;
}

Status BufferedWriter::write(std::string_view bytes) {
  if (buffer_.size() + bytes.size() > kBufferSize)
    if (auto ok = flush(); !ok) return ok;
  if (bytes.size() >= kBufferSize) return file_.write_all(bytes);
  buffer_.append(bytes);
  return {};
}

Status BufferedWriter::finish() {
  if (auto ok = flush(); !ok) return ok;
  return file_.close();
}

Status BufferedReader::fill() {
  begin_ = 0;
  end_ = 0;
  auto n = file_.read_some(buffer_, kBufferSize);
  if (!n) return fail_with(n.error());
  end_ = *n;
  return {};
}

Result<std::size_t> BufferedReader::read_once(char* data, std::size_t size) {
  // A request as large as the buffer bypasses it, as does any request when nothing is buffered
  // and it would not fit; otherwise the buffer is filled once.
  if (begin_ == end_ && size >= kBufferSize) return file_.read_some(data, size);
  if (begin_ == end_)
    if (auto ok = fill(); !ok) return fail_with(ok.error());
  const std::size_t n = std::min(size, end_ - begin_);
  std::memcpy(data, buffer_ + begin_, n);
  begin_ += n;
  return n;
}

Status BufferedReader::read_exact(char* data, std::size_t size) {
  while (size > 0) {
    auto n = read_once(data, size);
    if (!n) return fail_with(n.error());
    if (*n == 0) return fail_with(described(IoKind::UnexpectedEof, "failed to fill whole buffer"));
    data += *n;
    size -= *n;
  }
  return {};
}

Result<bool> BufferedReader::read_line(std::string& line) {
  line.clear();
  bool any = false;
  for (;;) {
    if (begin_ == end_) {
      if (auto ok = fill(); !ok) return fail_with(ok.error());
      if (end_ == 0) break;  // end of file
    }
    any = true;
    const char* start = buffer_ + begin_;
    const auto* nl = static_cast<const char*>(std::memchr(start, '\n', end_ - begin_));
    const std::size_t take = nl ? static_cast<std::size_t>(nl - start) : end_ - begin_;
    if (line.size() + take > kMaxLineBytes)
      return fail_with(described(IoKind::InvalidData,
                                 "stream contained a line longer than 16 MiB (16777216 bytes)"));
    if (nl) {
      line.append(start, nl);
      begin_ += static_cast<std::size_t>(nl - start) + 1;
      if (!line.empty() && line.back() == '\r') line.pop_back();
      break;
    }
    line.append(start, end_ - begin_);
    begin_ = end_;
  }
  if (!any) return false;
  if (!is_valid_utf8(line))
    return fail_with(described(IoKind::InvalidData, "stream did not contain valid UTF-8"));
  return true;
}

Result<std::string_view> BufferedReader::peek(std::size_t size) {
  size = std::min(size, kBufferSize);
  if (begin_ > 0) {
    std::memmove(buffer_, buffer_ + begin_, end_ - begin_);
    end_ -= begin_;
    begin_ = 0;
  }
  // A pipe hands over what it has, so reads go on until enough is buffered or the input ends.
  while (end_ < size) {
    auto n = file_.read_some(buffer_ + end_, kBufferSize - end_);
    if (!n) return fail_with(n.error());
    if (*n == 0) break;
    end_ += *n;
  }
  return std::string_view(buffer_, std::min(size, end_));
}

}  // namespace velk::io
