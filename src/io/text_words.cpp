// UTF-8 validation and Unicode white space (the White_Space property) for the readers.
#include "io/text_words.hpp"

#include <cstdint>

#include "core/utf8.hpp"

namespace velk::io {

namespace {

bool is_white_space(uint32_t c) {
  return (c >= 0x09 && c <= 0x0D) || c == 0x20 || c == 0x85 || c == 0xA0 || c == 0x1680 ||
         (c >= 0x2000 && c <= 0x200A) || c == 0x2028 || c == 0x2029 || c == 0x202F || c == 0x205F ||
         c == 0x3000;
}

// The last character of valid UTF-8 text: its code point and its length in bytes.
utf8::Char last_char(std::string_view text) {
  std::size_t start = text.size() - 1;
  while (start > 0 && (static_cast<unsigned char>(text[start]) & 0xC0) == 0x80) --start;
  return utf8::decode(text.substr(start));
}

}  // namespace

bool is_valid_utf8(std::string_view bytes) {
  return utf8::is_valid(bytes);
}

std::size_t wide_white_space_at(std::string_view text) {
  const utf8::Char c = utf8::decode(text);
  return c.length > 1 && is_white_space(c.code_point) ? c.length : 0;
}

std::string_view trim_start(std::string_view text) {
  while (const std::size_t ws = white_space_at(text)) text.remove_prefix(ws);
  return text;
}

std::string_view trim(std::string_view text) {
  text = trim_start(text);
  while (!text.empty()) {
    const utf8::Char c = last_char(text);
    // Bytes that are not a character (length 0) end the trimming, as any other non-space does.
    if (c.length == 0 || !is_white_space(c.code_point)) break;
    text.remove_suffix(c.length);
  }
  return text;
}

}  // namespace velk::io
