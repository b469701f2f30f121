// UTF-8 validation and Unicode white space (the White_Space property) for the readers.
#include "io/text_words.hpp"

#include <cstdint>

namespace velk::io {

namespace {

bool is_white_space(uint32_t c) {
  return (c >= 0x09 && c <= 0x0D) || c == 0x20 || c == 0x85 || c == 0xA0 || c == 0x1680 ||
         (c >= 0x2000 && c <= 0x200A) || c == 0x2028 || c == 0x2029 || c == 0x202F || c == 0x205F ||
         c == 0x3000;
}

bool is_continuation(unsigned char b) {
  return (b & 0xC0) == 0x80;
}

// The last character of valid UTF-8 text: its code point and its length in bytes.
uint32_t last_char(std::string_view text, std::size_t& length) {
  std::size_t start = text.size() - 1;
  while (start > 0 && is_continuation(static_cast<unsigned char>(text[start]))) --start;
  length = text.size() - start;
  const auto* b = reinterpret_cast<const unsigned char*>(text.data() + start);
  switch (length) {
    case 1:
      return b[0];
    case 2:
      return ((b[0] & 0x1Fu) << 6) | (b[1] & 0x3Fu);
    case 3:
      return ((b[0] & 0x0Fu) << 12) | ((b[1] & 0x3Fu) << 6) | (b[2] & 0x3Fu);
    default:
      return ((b[0] & 0x07u) << 18) | ((b[1] & 0x3Fu) << 12) | ((b[2] & 0x3Fu) << 6) |
             (b[3] & 0x3Fu);
  }
}

}  // namespace

bool is_valid_utf8(std::string_view bytes) {
  const auto* p = reinterpret_cast<const unsigned char*>(bytes.data());
  const std::size_t n = bytes.size();
  std::size_t i = 0;
  while (i < n) {
    const unsigned char b = p[i];
    if (b < 0x80) {
      ++i;
      continue;
    }
    std::size_t len;
    uint32_t min;
    uint32_t c;
    if (b >= 0xC2 && b <= 0xDF) {
      len = 2, min = 0x80, c = b & 0x1Fu;
    } else if (b >= 0xE0 && b <= 0xEF) {
      len = 3, min = 0x800, c = b & 0x0Fu;
    } else if (b >= 0xF0 && b <= 0xF4) {
      len = 4, min = 0x10000, c = b & 0x07u;
    } else {
      return false;
    }
    if (n - i < len) return false;
    for (std::size_t k = 1; k < len; ++k) {
      if (!is_continuation(p[i + k])) return false;
      c = (c << 6) | (p[i + k] & 0x3Fu);
    }
    if (c < min || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) return false;
    i += len;
  }
  return true;
}

std::size_t wide_white_space_at(std::string_view text) {
  const auto* b = reinterpret_cast<const unsigned char*>(text.data());
  // Only two- and three-byte characters can be white space.
  if (b[0] >= 0xC2 && b[0] <= 0xDF && text.size() >= 2) {
    const uint32_t c = ((b[0] & 0x1Fu) << 6) | (b[1] & 0x3Fu);
    return is_white_space(c) ? 2 : 0;
  }
  if (b[0] >= 0xE0 && b[0] <= 0xEF && text.size() >= 3) {
    const uint32_t c = ((b[0] & 0x0Fu) << 12) | ((b[1] & 0x3Fu) << 6) | (b[2] & 0x3Fu);
    return is_white_space(c) ? 3 : 0;
  }
  return 0;
}

std::string_view trim_start(std::string_view text) {
  while (const std::size_t ws = white_space_at(text)) text.remove_prefix(ws);
  return text;
}

std::string_view trim(std::string_view text) {
  text = trim_start(text);
  while (!text.empty()) {
    std::size_t length = 0;
    if (!is_white_space(last_char(text, length))) break;
    text.remove_suffix(length);
  }
  return text;
}

}  // namespace velk::io
