// The buffered writer.
#include "io/buffered_writer.hpp"

namespace velk::io {

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

}  // namespace velk::io
