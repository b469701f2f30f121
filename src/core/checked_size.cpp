// Checked size arithmetic and the physical-memory budget.
#include "core/checked_size.hpp"

#include <unistd.h>

#include <new>

namespace velk::sizes {

uint64_t mul(uint64_t a, uint64_t b) {
  uint64_t out = 0;
  if (__builtin_mul_overflow(a, b, &out)) throw std::bad_alloc();
  return out;
}

uint64_t add(uint64_t a, uint64_t b) {
  uint64_t out = 0;
  if (__builtin_add_overflow(a, b, &out)) throw std::bad_alloc();
  return out;
}

namespace {

uint64_t physical_memory_bytes() {
  const long pages = sysconf(_SC_PHYS_PAGES);
  const long page_size = sysconf(_SC_PAGESIZE);
  if (pages <= 0 || page_size <= 0) return UINT64_MAX;  // unknown: let the allocator decide
  uint64_t total = 0;
  if (__builtin_mul_overflow(static_cast<uint64_t>(pages), static_cast<uint64_t>(page_size),
                             &total))
    return UINT64_MAX;
  return total;
}

}  // namespace

void require_memory(uint64_t total_bytes) {
  static const uint64_t limit = physical_memory_bytes();
  if (total_bytes > limit) throw std::bad_alloc();
}

}  // namespace velk::sizes
