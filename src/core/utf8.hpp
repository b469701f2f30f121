// The one UTF-8 decoder of the library: well-formed characters only (no overlong forms,
// surrogates or values past U+10FFFF), used by the readers' validation and white-space rules and
// by the debug form of error texts.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace velk::utf8 {

// A decoded character: its code point and its length in bytes, 0 when the bytes do not start
// with a well-formed character (the code point is then the first byte's value).
struct Char {
  uint32_t code_point;
  std::size_t length;
};

// The character at the start of text, which must not be empty.
inline Char decode(std::string_view text) {
  const auto* p = reinterpret_cast<const unsigned char*>(text.data());
  const unsigned char lead = p[0];
  if (lead < 0x80) return {lead, 1};
  std::size_t length;
  uint32_t least, value;
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2, least = 0x80, value = lead & 0x1Fu;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3, least = 0x800, value = lead & 0x0Fu;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4, least = 0x10000, value = lead & 0x07u;
  } else {
    return {lead, 0};
  }
  if (text.size() < length) return {lead, 0};
  for (std::size_t k = 1; k < length; ++k) {
    if ((p[k] & 0xC0) != 0x80) return {lead, 0};
    value = (value << 6) | (p[k] & 0x3Fu);
  }
  if (value < least || value > 0x10FFFF || (value >= 0xD800 && value <= 0xDFFF)) return {lead, 0};
  return {value, length};
}

// Whether bytes are well-formed UTF-8 throughout.
inline bool is_valid(std::string_view bytes) {
  std::size_t i = 0;
  while (i < bytes.size()) {
    if (static_cast<unsigned char>(bytes[i]) < 0x80) {
      ++i;
      continue;
    }
    const Char c = decode(bytes.substr(i));
    if (c.length == 0) return false;
    i += c.length;
  }
  return true;
}

}  // namespace velk::utf8
