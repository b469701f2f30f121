// Text helpers of the line-based readers: UTF-8 validation, and trimming and splitting at
// Unicode white space.
#pragma once

#include <string_view>

namespace velk::io {

// Whether bytes are well-formed UTF-8 (no overlong forms, surrogates or values past U+10FFFF).
bool is_valid_utf8(std::string_view bytes);

// text without leading white space; text must be valid UTF-8 (as are all below).
std::string_view trim_start(std::string_view text);
// text without leading and trailing white space.
std::string_view trim(std::string_view text);

// Calls word(w) for each run of non-white-space characters, in order, until word returns false.
template <class F>
void for_each_word(std::string_view text, F&& word);

// Length in bytes of a non-ASCII white-space character at the start of text, or 0.
std::size_t wide_white_space_at(std::string_view text);

// Length in bytes of the white-space character at the start of text, or 0 if there is none.
inline std::size_t white_space_at(std::string_view text) {
  if (text.empty()) return 0;
  const unsigned char b = static_cast<unsigned char>(text[0]);
  if (b < 0x80) return b == ' ' || (b >= 0x09 && b <= 0x0D) ? 1 : 0;
  return wide_white_space_at(text);
}

template <class F>
void for_each_word(std::string_view text, F&& word) {
  std::size_t i = 0;
  while (i < text.size()) {
    while (i < text.size()) {
      const std::size_t ws = white_space_at(text.substr(i));
      if (!ws) break;
      i += ws;
    }
    if (i == text.size()) return;
    const std::size_t begin = i;
    while (i < text.size() && !white_space_at(text.substr(i))) {
      // Step over one whole character.
      const unsigned char lead = static_cast<unsigned char>(text[i]);
      i += lead < 0x80 ? 1 : lead < 0xE0 ? 2 : lead < 0xF0 ? 3 : 4;
    }
    if (i > text.size()) i = text.size();
    if (!word(text.substr(begin, i - begin))) return;
  }
}

}  // namespace velk::io
