// The line reader.
#include "io/line_reader.hpp"

#include <algorithm>
#include <cstring>

#include "io/text_words.hpp"

namespace velk::io {

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
    if (*n == 0) return fail_with(io_failure(IoKind::UnexpectedEof, "failed to fill whole buffer"));
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
      return fail_with(io_failure(IoKind::InvalidData,
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
    return fail_with(io_failure(IoKind::InvalidData, "stream did not contain valid UTF-8"));
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
