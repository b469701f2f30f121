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
bool read_number(const std::string& path, uint64_t& value) {
  std::ifstream in(path);
  return static_cast<bool>(in >> value);
}

// The least room left under the limit files of a control group and of each group above it (a
// parent's limit binds its children too); none where no level has a limit.
uint64_t room_along(const std::string& mount, std::string group, const char* limit_file,
                    const char* usage_file) {
  uint64_t room = UINT64_MAX;
  for (;;) {
    if (!group.empty() && group.back() == '/') group.pop_back();
    const std::string folder = mount + group + "/";
    uint64_t limit = 0, usage = 0;
    if (read_number(folder + limit_file, limit) && read_number(folder + usage_file, usage))
      room = std::min(room, limit > usage ? limit - usage : 0);
    if (group.empty()) return room;
    group.resize(group.rfind('/') == std::string::npos ? 0 : group.rfind('/'));
  }
}

// Whether a comma-separated controller list of /proc/self/cgroup names the memory controller.
bool names_memory(const std::string& controllers) {
  std::size_t begin = 0;
  for (;;) {
    const std::size_t end = controllers.find(',', begin);
    if (controllers.compare(begin, end - begin, "memory") == 0) return true;
    if (end == std::string::npos) return false;
    begin = end + 1;
  }
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
  return std::min(budget, control_group_room("/proc/self/cgroup", "/sys/fs/cgroup"));
}

}  // namespace

uint64_t control_group_room(const std::string& cgroup_file, const std::string& mount) {
  uint64_t room = UINT64_MAX;
  std::ifstream in(cgroup_file);
  // Lines "<id>:<controllers>:<path>": an empty controller list is the unified (version 2)
  // hierarchy, mounted at the root; version 1 mounts the memory controller in its own folder.
  for (std::string line; std::getline(in, line);) {
    const std::size_t first = line.find(':');
    const std::size_t second = first == std::string::npos ? first : line.find(':', first + 1);
    if (second == std::string::npos) continue;
    const std::string controllers = line.substr(first + 1, second - first - 1);
    const std::string group = line.substr(second + 1);
    if (controllers.empty())
      room = std::min(room, room_along(mount, group, "memory.max", "memory.current"));
    else if (names_memory(controllers))
      room = std::min(room, room_along(mount + "/memory", group, "memory.limit_in_bytes",
                                       "memory.usage_in_bytes"));
  }
  return room;
}

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
