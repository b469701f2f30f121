// The interrupt check of velk_morph's calls and the translation of core failures.
#include "morph_py/compute.hpp"

#include <chrono>
#include <exception>
#include <new>
#include <string>

#include "core/checked_size.hpp"
#include "core/internal_failure.hpp"
#include "core/interrupt.hpp"
#include "morph_toolkit/errors.hpp"

namespace velk::morph_py {

namespace {

// Thrown by the check once a signal handler raised; the handler's exception is already set.
struct HandlerRaised {};

// The calling thread runs this between blocks of work with the lock released. It takes the
// lock to run pending signal handlers at most every 5 ms, so polling costs nothing measurable
// and Ctrl-C still ends a call well within 0.1 s.
void check_signals() {
  thread_local auto next = std::chrono::steady_clock::time_point{};
  const auto now = std::chrono::steady_clock::now();
  if (now < next) return;
  next = now + std::chrono::milliseconds(5);
  nb::gil_scoped_acquire locked;
  if (PyErr_CheckSignals() < 0) throw HandlerRaised{};
}

}  // namespace

void refuse_out_of_memory(const char* what) {
  throw toolkit::MemoryRefusal(sizes::out_of_memory_text(what));
}

void install_core_routes() {
  interrupt::install(check_signals);
  nb::register_exception_translator([](const std::exception_ptr& failure, void*) {
    try {
      std::rethrow_exception(failure);
    } catch (const toolkit::InvalidInput& e) {
      PyErr_SetString(PyExc_ValueError, e.what());
    } catch (const toolkit::MemoryRefusal& e) {
      PyErr_SetString(PyExc_MemoryError, e.what());
    } catch (const HandlerRaised&) {
      if (!PyErr_Occurred()) PyErr_SetNone(PyExc_KeyboardInterrupt);
    } catch (const InternalFailure& f) {
      const std::string text = "velk_morph: internal failure at " +
                               std::string(f.where().file_name()) + ":" +
                               std::to_string(f.where().line()) + ": " + f.text();
      PyErr_SetString(PyExc_RuntimeError, text.c_str());
    }
  });
}

}  // namespace velk::morph_py
