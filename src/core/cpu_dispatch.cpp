// Detects AVX2 once per process and honours the tests' switch to the plain kernels.
#include "core/cpu_dispatch.hpp"

#include <cstdlib>
#include <cstring>

namespace velk::cpu {

bool avx2_enabled() {
  static const bool enabled = [] {
    const char* plain = std::getenv("VELK_PLAIN_KERNELS");
    if (plain && std::strcmp(plain, "1") == 0) return false;
#if defined(__x86_64__) || defined(__i386__)
    __builtin_cpu_init();
    return __builtin_cpu_supports("avx2") != 0;
#else
    return false;
#endif
  }();
  return enabled;
}

bool avx2_fma_enabled() {
#if defined(__x86_64__) || defined(__i386__)
  static const bool enabled = avx2_enabled() && __builtin_cpu_supports("fma") != 0;
  return enabled;
#else
  return false;
#endif
}

}  // namespace velk::cpu
