// Turning a run-time value of a short list into a compile-time constant, once, outside the loops:
// the body is compiled once per value, each copy with the value fixed.
#pragma once

#include <type_traits>
#include <utility>

namespace velk {

// Calls body(std::integral_constant<T, V>{}) for the first V of First, Rest... equal to value,
// and for the last of them when none is (so an enum's last enumerator doubles as the fallback
// and every path returns the body's result). Values are compared in the order listed.
template <auto First, auto... Rest, class F>
constexpr decltype(auto) with_constant(decltype(First) value, F&& body) {
  if constexpr (sizeof...(Rest) == 0) {
    return body(std::integral_constant<decltype(First), First>{});
  } else {
    if (value == First) return body(std::integral_constant<decltype(First), First>{});
    return with_constant<Rest...>(value, std::forward<F>(body));
  }
}

}  // namespace velk
