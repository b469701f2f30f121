// Checks with_constant for test_constant_dispatch.py, at compile time where it can: each listed
// value reaches the body as its own constant, whatever the listed order, an unlisted value takes
// the last one listed, and the body runs once. Prints "ok" lines.
#include <cstdio>

#include "../driver_report.hpp"
#include "core/constant_dispatch.hpp"

using velk::with_constant;

namespace {

enum class Colour { red, green, blue, grey };
using enum Colour;

template <Colour... Listed>
constexpr Colour chosen(Colour value) {
  return with_constant<Listed...>(value, [](auto c) { return decltype(c)::value; });
}

static_assert(chosen<red, green, blue>(red) == red && chosen<red, green, blue>(green) == green &&
              chosen<red, green, blue>(blue) == blue);
static_assert(chosen<blue, red, green>(red) == red && chosen<blue, red, green>(blue) == blue);
static_assert(chosen<red, green, blue>(grey) == blue && chosen<blue, red>(green) == red);
static_assert(chosen<green>(red) == green);
static_assert(with_constant<1, 2, 3>(2, [](auto c) { return c() * 10; }) == 20);

}  // namespace

int main() {
  int calls = 0, seen = -1;
  with_constant<red, green, blue>(green, [&](auto c) { ++calls, seen = static_cast<int>(c()); });
  report("with_constant", calls == 1 && seen == 1 ? "" : "the body ran other than once with green");
  return 0;
}
