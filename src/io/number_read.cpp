// Grammar checks of the reader's numbers; the decimal conversion itself is std::from_chars,
// which rounds correctly.
#include "io/number_read.hpp"

#include <charconv>
#include <cmath>
#include <limits>

namespace velk::io {

namespace {

bool is_digit(char c) {
  return c >= '0' && c <= '9';
}

bool equals_ignoring_case(std::string_view text, std::string_view word) {
  if (text.size() != word.size()) return false;
  for (std::size_t i = 0; i < text.size(); ++i) {
    char c = text[i];
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    if (c != word[i]) return false;
  }
  return true;
}

}  // namespace

std::optional<double> parse_float(std::string_view text) {
  bool negative = false;
  std::size_t i = 0;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
    negative = text[i] == '-';
    ++i;
  }
  const std::string_view body = text.substr(i);
  if (equals_ignoring_case(body, "inf") || equals_ignoring_case(body, "infinity"))
    return negative ? -std::numeric_limits<double>::infinity()
                    : std::numeric_limits<double>::infinity();
  if (equals_ignoring_case(body, "nan"))
    return std::copysign(std::numeric_limits<double>::quiet_NaN(), negative ? -1.0 : 1.0);

  // Mantissa: digits [ '.' digits ], at least one digit in all. While scanning, note the
  // decimal magnitude of the first non-zero digit, to tell overflow from underflow later.
  std::size_t j = 0;
  std::size_t mantissa_digits = 0;
  long magnitude = 0;
  bool seen_nonzero = false;
  long integer_digits = 0;
  while (j < body.size() && is_digit(body[j])) {
    if (body[j] != '0' || seen_nonzero) {
      seen_nonzero = true;
      ++integer_digits;
    }
    ++j;
    ++mantissa_digits;
  }
  if (seen_nonzero) magnitude = integer_digits - 1;
  if (j < body.size() && body[j] == '.') {
    ++j;
    long position = 0;
    while (j < body.size() && is_digit(body[j])) {
      --position;
      if (!seen_nonzero && body[j] != '0') {
        seen_nonzero = true;
        magnitude = position;
      }
      ++j;
      ++mantissa_digits;
    }
  }
  if (mantissa_digits == 0) return std::nullopt;
  long exponent = 0;
  if (j < body.size() && (body[j] == 'e' || body[j] == 'E')) {
    ++j;
    bool exp_negative = false;
    if (j < body.size() && (body[j] == '+' || body[j] == '-')) {
      exp_negative = body[j] == '-';
      ++j;
    }
    if (j == body.size() || !is_digit(body[j])) return std::nullopt;
    for (; j < body.size() && is_digit(body[j]); ++j)
      if (exponent < 1000000000L) exponent = exponent * 10 + (body[j] - '0');
    if (exp_negative) exponent = -exponent;
  }
  if (j != body.size()) return std::nullopt;

  double value = 0.0;
  const auto res =
      std::from_chars(body.data(), body.data() + body.size(), value, std::chars_format::general);
  if (res.ec == std::errc::result_out_of_range) {
    value = magnitude + exponent > 0 ? std::numeric_limits<double>::infinity() : 0.0;
  } else if (res.ec != std::errc() || res.ptr != body.data() + body.size()) {
    return std::nullopt;
  }
  return negative ? -value : value;
}

std::optional<uint64_t> parse_index(std::string_view text) {
  if (!text.empty() && text[0] == '+') text.remove_prefix(1);
  if (text.empty()) return std::nullopt;
  uint64_t value = 0;
  for (char c : text) {
    if (!is_digit(c)) return std::nullopt;
    const uint64_t digit = static_cast<uint64_t>(c - '0');
    if (value > (std::numeric_limits<uint64_t>::max() - digit) / 10) return std::nullopt;
    value = value * 10 + digit;
  }
  return value;
}

}  // namespace velk::io
