// CollectorPause: suspends the interpreter's cyclic garbage collector for the life of a scope.
// Building a result of a million small lists would otherwise trigger repeated collections that
// walk every live object; the objects built stay tracked and are collected as usual afterwards.
// The same scope has the allocator's new arenas faulted in whole (ArenaPrefault).
#pragma once

#include "py/python.hpp"

#include "py/arena_prefault.hpp"

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
  ArenaPrefault prefault_;
};

}  // namespace velk::py
