// Running core work from a binding: the interpreter lock is released while the core computes
// (other Python threads go on), Ctrl-C ends the call (the core polls between blocks of work),
// and the core's failures become Python exceptions (register_failure_translations, once).
#pragma once

#include <nanobind/nanobind.h>

#include <utility>

namespace velk::morph_py {

namespace nb = nanobind;

// Runs work() with the interpreter lock released and returns its result. Every Python object
// the work needs must have been converted before (core values and array views only).
template <class Work>
auto released(Work&& work) -> decltype(work()) {
  nb::gil_scoped_release unlocked;
  return std::forward<Work>(work)();
}

// Installs the interrupt check of this module's core and the translations of core failures:
// InvalidInput to ValueError, MemoryRefusal to MemoryError, an internal failure to
// RuntimeError naming its source location, an interrupt to the signal handler's exception.
void install_core_routes();

}  // namespace velk::morph_py
