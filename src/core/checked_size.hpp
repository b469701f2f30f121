// Sizes computed from user input: 64-bit arithmetic that refuses to wrap, and a memory budget
// check, so a request too large for the machine fails with std::bad_alloc before any work.
#pragma once

#include <cstdint>

namespace velk::sizes {

// a·b, or std::bad_alloc when the product does not fit in 64 bits.
uint64_t mul(uint64_t a, uint64_t b);

// a + b, or std::bad_alloc when the sum does not fit in 64 bits.
uint64_t add(uint64_t a, uint64_t b);

// count·size_of_one bytes, checked as mul.
inline uint64_t bytes(uint64_t count, uint64_t size_of_one) {
  return mul(count, size_of_one);
}

// Throws std::bad_alloc when `total_bytes` exceeds the machine's physical memory: such a
// request cannot be served, and attempting it would only push the machine into swapping or
// the out-of-memory killer.
void require_memory(uint64_t total_bytes);

}  // namespace velk::sizes
