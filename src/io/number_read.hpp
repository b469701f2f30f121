// The number grammars of the readers: 64-bit floats as STL and OBJ coordinates, and OBJ face
// indices.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

namespace velk::io {

// A 64-bit float: an optional sign ('+' or '-'), then either decimal digits with an optional
// fraction and exponent (at least one digit in the mantissa), or one of the words inf, infinity
// and nan in any letter case. Nothing else: no hex floats, no "nan(...)", no surrounding
// characters. Out-of-range values round to infinity or zero.
std::optional<double> parse_float(std::string_view text);

// An unsigned 64-bit integer: an optional '+', then one or more decimal digits; nothing else
// and no overflow.
std::optional<uint64_t> parse_index(std::string_view text);

}  // namespace velk::io
