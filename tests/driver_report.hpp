// The output of the C++ test drivers: one line per check, "ok <name>" or "FAIL <name>: <why>",
// which their Python tests read.
#pragma once

#include <cstdio>
#include <string>

inline void report(const char* name, const std::string& why) {
  if (why.empty())
    std::printf("ok %s\n", name);
  else
    std::printf("FAIL %s: %s\n", name, why.c_str());
}
