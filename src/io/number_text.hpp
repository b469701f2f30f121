// Number text of the text writers: the shortest decimal text that reads back to the same
// 64-bit float, laid out positionally (no exponent, no trailing zeros, no decimal point for
// integral values), with NaN, inf and -inf for the special values.
#pragma once

#include <cstdint>
#include <string>

namespace velk::io {

// Appends the number text of value to out.
void append_number(std::string& out, double value);

// Appends an unsigned integer in decimal, no sign, no leading zeros.
void append_integer(std::string& out, uint64_t value);

std::string number_text(double value);

}  // namespace velk::io
