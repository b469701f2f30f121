// Sizes computed from user input: 64-bit arithmetic that refuses to wrap, and a memory budget
// check, so a request too large for the machine fails before any work with a text that names
// what was asked for and how much.
#pragma once

#include <cstdint>
#include <new>
#include <string>

namespace velk::sizes {

// A request refused before any work: a std::bad_alloc whose text names it, e.g.
// "a (1000, 1000, 1000) design block needs 24.1 GB, more than the 23.2 GB this process can use".
class MemoryRefused : public std::bad_alloc {
 public:
  explicit MemoryRefused(std::string text) : text_(std::move(text)) {}
  const char* what() const noexcept override { return text_.c_str(); }

 private:
  std::string text_;
};

// The text of a request that ran out of memory where no size was checked first:
// "<what> needs more memory than this process can get".
inline std::string out_of_memory_text(const std::string& what) {
  return what + " needs more memory than this process can get";
}

// a·b, or MemoryRefused when the product does not fit in 64 bits.
uint64_t mul(uint64_t a, uint64_t b);

// a + b, or MemoryRefused when the sum does not fit in 64 bits.
uint64_t add(uint64_t a, uint64_t b);

// count·size_of_one bytes, checked as mul.
inline uint64_t bytes(uint64_t count, uint64_t size_of_one) {
  return mul(count, size_of_one);
}

// Throws MemoryRefused "<what> needs <n> GB, more than the <m> GB this process can use" when
// total_bytes exceeds what the process can still get: the least of the available physical
// memory, the room left under its address-space and data limits, and its control group's
// limit. Such a request cannot be served; attempting it would only push the machine into
// swapping or the out-of-memory killer. Requests under 64 MiB are left to the allocator.
void require_memory(uint64_t total_bytes, const std::string& what = "this request");

// The least room left under the memory limits of the control groups that cgroup_file (this
// process's is /proc/self/cgroup) names, each group's ancestors included, with the control
// group file systems mounted at mount (version 2 at mount itself, version 1's memory controller
// at mount/memory); UINT64_MAX where none has a limit. A limit of "max" (version 2) is none; a
// version 1 group without a limit shows a number near 2⁶³.
uint64_t control_group_room(const std::string& cgroup_file, const std::string& mount);

// "24.1 GB": a byte count in decimal gigabytes with one decimal.
std::string gigabytes(uint64_t bytes);

}  // namespace velk::sizes
