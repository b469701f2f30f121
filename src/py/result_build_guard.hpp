// ResultBuildGuard: the one guard of every large result build. For the life of a scope it
// suspends the interpreter's cyclic garbage collector (building a million small lists would
// otherwise trigger repeated collections that walk every live object; the objects built stay
// tracked and are collected as usual afterwards) and swaps the interpreter's arena allocator for
// one that faults each new arena in by one call (ArenaPrefault). Both are restored on every
// exit, also when the build unwinds with an exception (MemoryError, KeyboardInterrupt).
#pragma once

#include "py/python.hpp"

#include "py/arena_prefault.hpp"

namespace velk::py {

class ResultBuildGuard {
 public:
  // Disables the collector and remembers whether the caller had it enabled; wraps the arena
  // allocator. Made and destroyed with the GIL held, in nesting order.
  ResultBuildGuard() : was_enabled_(PyGC_Disable()) {}
  // Restores the caller's collector state (the arena allocator is restored by prefault_).
  ~ResultBuildGuard() {
    if (was_enabled_) PyGC_Enable();
  }
  ResultBuildGuard(const ResultBuildGuard&) = delete;
  ResultBuildGuard& operator=(const ResultBuildGuard&) = delete;

 private:
  int was_enabled_;
  ArenaPrefault prefault_;
};

}  // namespace velk::py
