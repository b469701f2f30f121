// The exception routes of the binding layer: the one place where C++ exceptions become Python
// exceptions, the mapping of core Errors, and the internal-failure exception PanicException.
#pragma once

#include "py/python.hpp"

#include <optional>
#include <source_location>
#include <string>

#include "core/error.hpp"
#include "core/internal_failure.hpp"
#include "py/binder.hpp"

namespace velk::py {

// Marker thrown when a Python exception is set and the call must unwind to its entry point.
struct PyErrorSet {};

// Checks a C-API status (negative means failure with an exception set).
inline int check(int status) {
  if (status < 0) throw PyErrorSet{};
  return status;
}

// Sets a Python exception of the given type with a text and throws PyErrorSet.
[[noreturn]] void raise(PyObject* type, const std::string& text);

// Turns the exception being handled (inside a catch block) into a Python exception: PyErrorSet
// keeps the set exception (SystemError if none is set), an internal failure becomes
// PanicException with a diagnostic on stderr. Running out of memory becomes MemoryError with a
// text that names what was asked for: the guard's own text when it refused a size, else
// "<who> needs more memory than this process can get" (also for a MemoryError the interpreter
// raised without a text while building a result).
void route_current_exception(const Callee& who) noexcept;

// Runs the body of the entry point `who`, which returns a Ref; returns its new reference, or
// null with a Python exception set. Nothing C++ crosses this line.
template <class F>
PyObject* guarded(const Callee& who, F&& body) noexcept {
  try {
    return body().release();
  } catch (...) {
    route_current_exception(who);
    return nullptr;
  }
}

// As guarded, for bodies that return nothing (setters, init): 0 on success, -1 on failure.
template <class F>
int guarded_status(const Callee& who, F&& body) noexcept {
  try {
    body();
    return 0;
  } catch (...) {
    route_current_exception(who);
    return -1;
  }
}

// Creates the internal-failure exception type and registers its module "velk.panic" in
// sys.modules, so that a PanicException pickles and unpickles in any process. Called by the
// module's initialisation.
void register_panic_module();

// The mapped-error route: an Error becomes an exception of `type` whose argument is the display
// form.
template <class T>
T unwrap_or_raise(Result<T> result, PyObject* type) {
  if (!result) raise(type, result.error().display());
  if constexpr (!std::is_void_v<T>) return std::move(*result);
}

// An I/O Error as the OSError subclass Python itself picks for its error number
// (FileNotFoundError, IsADirectoryError, ...) with .errno set, or a plain OSError when it has
// none; the argument is the display form, as for the mapped-error route.
[[noreturn]] void raise_os_error(const Error& error);

// The internal-failure route: an unmapped Error is an internal failure
// "called `Result::unwrap()` on an `Err` value: <debug form>".
// The diagnostic on standard error names the caller's line.
[[noreturn]] void unwrap_failed(const Error& error, std::source_location where);
template <class T>
T unwrap(Result<T> result, std::source_location where = std::source_location::current()) {
  if (!result) unwrap_failed(result.error(), where);
  if constexpr (!std::is_void_v<T>) return std::move(*result);
}

// The internal-failure route for a required result that the core reports absent.
template <class T>
T unwrap(std::optional<T> value, std::source_location where = std::source_location::current()) {
  if (!value) internal_failure("called `Option::unwrap()` on a `None` value", where);
  return std::move(*value);
}

// The internal-failure route for a conversion failure that an entry point sends there instead
// of the argument-prefix route: the set Python exception is rendered into the failure text. A
// KeyboardInterrupt or SystemExit is re-raised unchanged instead.
[[noreturn]] void conversion_panic();

template <class F>
auto convert_or_panic(F&& convert) -> decltype(convert()) {
  try {
    return convert();
  } catch (const PyErrorSet&) {
    conversion_panic();
  }
}

}  // namespace velk::py
