// Checked size arithmetic and the memory budget of a request.
#include "core/checked_size.hpp"

#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <string>

namespace velk::sizes {

namespace {

[[noreturn]] void refuse_overflow() {
  throw MemoryRefused("the requested size does not fit in 64 bits");
}

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

// The first number of a one-line file (a control group's limit or usage); none for "max",
// an absent file or junk.
bool read_number(const char* path, uint64_t& value) {
  std::ifstream in(path);
  return static_cast<bool>(in >> value);
}

// A "<key>: <n> kB" entry of /proc/meminfo or /proc/self/status, in bytes.
bool read_kib_entry(const char* path, const std::string& key, uint64_t& value) {
  std::ifstream in(path);
  std::string name;
  while (in >> name) {
    if (name == key) {
      uint64_t kib = 0;
      if (!(in >> kib)) return false;
      value = kib * 1024;
      return true;
    }
    in.ignore(4096, '\n');
  }
  return false;
}

// What is left under a resource limit, given what the process already uses of it.
uint64_t room_under(int resource, uint64_t used) {
  rlimit limit{};
  if (getrlimit(resource, &limit) != 0 || limit.rlim_cur == RLIM_INFINITY) return UINT64_MAX;
  return limit.rlim_cur > used ? limit.rlim_cur - used : 0;
}

uint64_t usable_memory() {
  uint64_t budget = physical_memory_bytes();
  uint64_t value = 0;
  if (read_kib_entry("/proc/meminfo", "MemAvailable:", value)) budget = std::min(budget, value);
  uint64_t address_space = 0, data = 0;
  read_kib_entry("/proc/self/status", "VmSize:", address_space);
  read_kib_entry("/proc/self/status", "VmData:", data);
  budget = std::min(budget, room_under(RLIMIT_AS, address_space));
  budget = std::min(budget, room_under(RLIMIT_DATA, data));
  // A control group's limit, version 2 or version 1 (a value near 2⁶³ means none).
  uint64_t limit = 0, usage = 0;
  if (read_number("/sys/fs/cgroup/memory.max", limit) &&
      read_number("/sys/fs/cgroup/memory.current", usage))
    budget = std::min(budget, limit > usage ? limit - usage : 0);
  if (read_number("/sys/fs/cgroup/memory/memory.limit_in_bytes", limit) &&
      read_number("/sys/fs/cgroup/memory/memory.usage_in_bytes", usage))
    budget = std::min(budget, limit > usage ? limit - usage : 0);
  return budget;
}

}  // namespace

uint64_t mul(uint64_t a, uint64_t b) {
  uint64_t out = 0;
  if (__builtin_mul_overflow(a, b, &out)) refuse_overflow();
  return out;
}

uint64_t add(uint64_t a, uint64_t b) {
  uint64_t out = 0;
  if (__builtin_add_overflow(a, b, &out)) refuse_overflow();
  return out;
}

std::string gigabytes(uint64_t bytes) {
  char text[64];
  std::snprintf(text, sizeof text, "%.1f GB", static_cast<double>(bytes) / 1e9);
  return text;
}

void require_memory(uint64_t total_bytes, const std::string& what) {
  constexpr uint64_t kUnchecked = uint64_t{64} << 20;
  if (total_bytes < kUnchecked) return;
  const uint64_t budget = usable_memory();
  if (total_bytes > budget)
    throw MemoryRefused(what + " needs " + gigabytes(total_bytes) + ", more than the " +
                        gigabytes(budget) + " this process can use");
}

}  // namespace velk::sizes
