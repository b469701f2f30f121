// Fuzz target of the number parser. Property: a finite number read from text, formatted by the
// writers' number formatter and read again, is the same double.
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>

#include "io/number_read.hpp"
#include "io/number_text.hpp"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  velk::io::parse_index(text);
  const auto value = velk::io::parse_float(text);
  if (!value || std::isnan(*value)) return 0;
  std::string formatted;
  velk::io::append_number(formatted, *value);
  const auto again = velk::io::parse_float(formatted);
  if (!again || std::memcmp(&*again, &*value, sizeof(double)) != 0) std::abort();
  return 0;
}
