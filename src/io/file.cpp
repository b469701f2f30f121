// The file descriptor handle and the buffered writer and reader.
#include "io/file.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

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
  do {
    fd = ::open(name.c_str(), O_RDONLY | O_CLOEXEC);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0) return fail_with(Error::from_errno());
  return File(fd);
}

Result<File> File::create(const std::string& name) {
  if (auto ok = check_name(name); !ok) return fail_with(ok.error());
  int fd;
  do {
    fd = ::open(name.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0) return fail_with(Error::from_errno());
  return File(fd);
}

File& File::operator=(File&& other) noexcept {
  if (this != &other) {
    if (fd_ >= 0) ::close(fd_);
    fd_ = other.fd_;
    other.fd_ = -1;
  }
  return *this;
}

File::~File() {
  if (fd_ >= 0) ::close(fd_);
}

Status File::write_all(const char* data, std::size_t size) {
  while (size > 0) {
    const ssize_t n = ::write(fd_, data, size);
    if (n < 0) {
      if (errno == EINTR) continue;
      return fail_with(Error::from_errno());
    }
    if (n == 0) return fail_with(described(IoKind::WriteZero, "failed to write whole buffer"));
    data += n;
    size -= static_cast<std::size_t>(n);
  }
  return {};
}

Result<std::size_t> File::read_some(char* data, std::size_t size) {
  for (;;) {
    const ssize_t n = ::read(fd_, data, size);
    if (n >= 0) return static_cast<std::size_t>(n);
    if (errno != EINTR) return fail_with(Error::from_errno());
  }
}

Status File::seek(uint64_t offset) {
  if (::lseek(fd_, static_cast<off_t>(offset), SEEK_SET) < 0) return fail_with(Error::from_errno());
  return {};
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
  if (::close(fd) != 0 && errno != EINTR) return fail_with(Error::from_errno());
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

Status BufferedReader::seek(uint64_t offset) {
  begin_ = end_ = 0;
  return file_.seek(offset);
}

}  // namespace velk::io
