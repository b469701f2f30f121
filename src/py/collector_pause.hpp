// CollectorPause: suspends the interpreter's cyclic garbage collector for the life of a scope.
// Building a result of a million small lists would otherwise trigger repeated collections that
// walk every live object; the objects built stay tracked and are collected as usual afterwards.
#pragma once

#include "py/python.hpp"

namespace velk::py {

class CollectorPause {
 public:
  // Disables the collector and remembers whether the caller had it enabled.
  CollectorPause() : was_enabled_(PyGC_Disable()) {}
  // Restores the caller's state, also when the build unwinds with an exception (MemoryError).
  ~CollectorPause() {
    if (was_enabled_) PyGC_Enable();
  }
  CollectorPause(const CollectorPause&) = delete;
  CollectorPause& operator=(const CollectorPause&) = delete;

 private:
  int was_enabled_;
};

}  // namespace velk::py
