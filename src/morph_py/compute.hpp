// Running core work from a binding: the interpreter lock is released while the core computes
// (other Python threads go on), Ctrl-C ends the call (the core polls between blocks of work),
// and the core's failures become Python exceptions (register_failure_translations, once).
#pragma once

#include <nanobind/nanobind.h>

#include <new>
#include <stdexcept>
#include <utility>

#include "core/checked_size.hpp"

namespace velk::morph_py {

namespace nb = nanobind;

// The MemoryRefusal of a call `what` that ran out of memory where no size was checked first:
// "<what> needs more memory than this process can get".
[[noreturn]] void refuse_out_of_memory(const char* what);

// Runs work() for the call `what` with the interpreter lock released and returns its result.
// Every Python object the work needs must have been converted before (core values and array
// views only). Running out of memory in the work names the call (a refusal that names its size
// keeps its own text).
template <class Work>
auto released(const char* what, Work&& work) -> decltype(work()) {
  nb::gil_scoped_release unlocked;
  try {
    return std::forward<Work>(work)();
  } catch (const sizes::MemoryRefused&) {
    throw;
  } catch (const std::bad_alloc&) {
    refuse_out_of_memory(what);
  } catch (const std::length_error&) {
    refuse_out_of_memory(what);
  }
}

// Installs the interrupt check of this module's core and the translations of core failures:
// InvalidInput to ValueError, MemoryRefusal to MemoryError, an internal failure to
// RuntimeError naming its source location, an interrupt to the signal handler's exception.
void install_core_routes();

}  // namespace velk::morph_py
