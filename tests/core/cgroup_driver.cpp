// Prints the memory room that the control groups listed in a file leave, with the control group
// file systems mounted under a given folder: cgroup_driver CGROUP_FILE MOUNT.
#include <cstdio>

#include "core/checked_size.hpp"

int main(int argc, char** argv) {
  if (argc != 3) return 2;
  std::printf("%llu\n",
              static_cast<unsigned long long>(velk::sizes::control_group_room(argv[1], argv[2])));
  return 0;
}
