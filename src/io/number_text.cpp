// The shortest round-trip digits come from std::to_chars in scientific form; they are then laid
// out positionally here.
#include "io/number_text.hpp"

#include <charconv>
#include <cmath>

namespace velk::io {

void append_number(std::string& out, double value) {
  if (std::isnan(value)) {
    out += "NaN";  // whatever the sign bit
    return;
  }
  if (std::isinf(value)) {
    out += value < 0 ? "-inf" : "inf";
    return;
  }
  // Shortest digits in the form [-]d[.ddd]e(+|-)xx.
  char sci[32];
  const auto res = std::to_chars(sci, sci + sizeof sci, value, std::chars_format::scientific);
  const char* p = sci;
  const char* end = res.ptr;
  if (*p == '-') {
    out += '-';
    ++p;
  }
  char digits[20];
  int count = 0;
  for (; p != end && *p != 'e'; ++p)
    if (*p != '.') digits[count++] = *p;
  // The exponent after 'e': a sign and up to three digits.
  int exponent = 0;
  if (p != end) {
    ++p;
    const bool negative = *p == '-';
    if (*p == '-' || *p == '+') ++p;
    for (; p != end; ++p) exponent = exponent * 10 + (*p - '0');
    if (negative) exponent = -exponent;
  }
  // Number of digits before the decimal point; zero or negative means leading "0.000...".
  const int point = exponent + 1;
  if (point <= 0) {
    out += "0.";
    out.append(static_cast<std::size_t>(-point), '0');
    out.append(digits, static_cast<std::size_t>(count));
  } else if (point >= count) {
    out.append(digits, static_cast<std::size_t>(count));
    out.append(static_cast<std::size_t>(point - count), '0');
  } else {
    out.append(digits, static_cast<std::size_t>(point));
    out += '.';
    out.append(digits + point, static_cast<std::size_t>(count - point));
  }
}

void append_integer(std::string& out, uint64_t value) {
  char buf[24];
  const auto res = std::to_chars(buf, buf + sizeof buf, value);
  out.append(buf, res.ptr);
}

std::string number_text(double value) {
  std::string out;
  append_number(out, value);
  return out;
}

}  // namespace velk::io
