// The buffered writer: small writes collected into one buffer before they reach the file.
#pragma once

#include <string>
#include <string_view>

#include "io/file_handle.hpp"

namespace velk::io {

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

}  // namespace velk::io
