// The exception routes: how C++ exceptions, core Errors and internal failures reach Python.
#include "py/error_route.hpp"

#include <cstdio>
#include <new>
#include <stdexcept>

#include "core/checked_size.hpp"
#include "py/ref.hpp"

namespace velk::py {

namespace {

// The module that holds the internal-failure exception type. It is registered in sys.modules
// under this dotted name but is not an attribute of velk: pickle finds the type by importing
// its module, and importing "velk.panic" imports velk, which registers it, in any process.
constexpr const char* kPanicModule = "velk.panic";

// The internal-failure exception type, created once per process on first use. It derives from
// BaseException so that handlers for Exception do not swallow it.
PyObject* panic_type() {
  static PyObject* type = nullptr;
  if (!type) {
    type = PyErr_NewExceptionWithDoc(
        "velk.panic.PanicException",
        "The exception raised when native code fails internally.\n\n"
        "Like SystemExit it derives from BaseException, so that it propagates through the stack.",
        PyExc_BaseException, nullptr);
  }
  return type;
}

void raise_panic(const std::string& text, const char* file, unsigned line) {
  std::fprintf(stderr, "velk: internal failure at %s:%u:\n%s\n", file, line, text.c_str());
  PyObject* type = panic_type();
  if (!type) return;  // creating the type failed; its exception stays set
  Ref message = Ref::steal(PyUnicode_FromStringAndSize(text.data(), text.size()));
  PyErr_SetObject(type, message.get());
}

// Text of a Python object's repr, or a placeholder when even that fails.
std::string repr_text(PyObject* obj) {
  PyObject* r = PyObject_Repr(obj);
  if (!r) {
    PyErr_Clear();
    return "<unprintable>";
  }
  Ref owned = Ref::steal(r);
  const char* s = PyUnicode_AsUTF8(owned.get());
  if (!s) {
    PyErr_Clear();
    return "<unprintable>";
  }
  return s;
}

}  // namespace

void raise(PyObject* type, const std::string& text) {
  PyObject* message =
      PyUnicode_FromStringAndSize(text.data(), static_cast<Py_ssize_t>(text.size()));
  if (message) {
    PyErr_SetObject(type, message);
    Py_DECREF(message);
  }
  throw PyErrorSet{};
}

void register_panic_module() {
  PyObject* type = panic_type();
  if (!type) throw PyErrorSet{};
  Ref module = Ref::steal(PyModule_New(kPanicModule));
  check(PyModule_AddObjectRef(module.get(), "PanicException", type));
  check(PyDict_SetItemString(PyImport_GetModuleDict(), kPanicModule, module.get()));
}

void raise_os_error(const Error& error) {
  const int code = error.variant() == Error::Variant::FileSystem ? error.io().os_code : 0;
  if (!code) raise(PyExc_OSError, error.display());
  // OSError(errno, text) picks the subclass; the instance raised keeps the one-argument form.
  Ref picked = Ref::steal(PyObject_CallFunction(PyExc_OSError, "is", code, ""));
  PyObject* type = reinterpret_cast<PyObject*>(Py_TYPE(picked.get()));
  const std::string text = error.display();
  Ref message =
      Ref::steal(PyUnicode_FromStringAndSize(text.data(), static_cast<Py_ssize_t>(text.size())));
  Ref exception = Ref::steal(PyObject_CallOneArg(type, message.get()));
  Ref number = Ref::steal(PyLong_FromLong(code));
  check(PyObject_SetAttrString(exception.get(), "errno", number.get()));
  PyErr_SetObject(type, exception.get());
  throw PyErrorSet{};
}

void unwrap_failed(const Error& error, std::source_location where) {
  internal_failure("called `Result::unwrap()` on an `Err` value: " + error.debug(), where);
}

void conversion_panic() {
  FetchedError fetched;
  if (!fetched) internal_failure("called `Result::unwrap()` on an `Err` value: PyErr { none }");
  // An interrupt or an exit request raised while converting is not a conversion failure: it
  // goes on unchanged.
  if (fetched.matches(PyExc_KeyboardInterrupt) || fetched.matches(PyExc_SystemExit)) {
    fetched.restore();
    throw PyErrorSet{};
  }
  fetched.normalize();
  std::string rendering = "PyErr { type: " + repr_text(fetched.type()) +
                          ", value: " + repr_text(fetched.value()) + ", traceback: ";
  rendering += fetched.traceback() ? repr_text(fetched.traceback()) : "None";
  rendering += " }";
  internal_failure("called `Result::unwrap()` on an `Err` value: " + rendering);
}

namespace {

// MemoryError "<who> needs more memory than this process can get"; a bare MemoryError when
// even the text cannot be made.
void raise_out_of_memory(const Callee& who) noexcept {
  PyErr_Clear();
  try {
    const std::string text = sizes::out_of_memory_text(who.asked_for());
    PyErr_SetString(PyExc_MemoryError, text.c_str());
  } catch (...) {
    PyErr_NoMemory();
  }
}

// True when the set exception is a MemoryError without a text (the interpreter's own, raised
// when an allocation of a result failed).
bool unnamed_memory_error_set() {
  if (!PyErr_ExceptionMatches(PyExc_MemoryError)) return false;
  FetchedError fetched;
  fetched.normalize();
  PyObject* args = fetched.value() ? PyObject_GetAttrString(fetched.value(), "args") : nullptr;
  const bool unnamed = args && PyTuple_Check(args) && PyTuple_GET_SIZE(args) == 0;
  Py_XDECREF(args);
  PyErr_Clear();
  if (!unnamed) fetched.restore();
  return unnamed;
}

}  // namespace

void route_current_exception(const Callee& who) noexcept {
  try {
    throw;
  } catch (const PyErrorSet&) {
    if (!PyErr_Occurred())
      PyErr_SetString(PyExc_SystemError, "attempted to fetch exception but none was set");
    else if (unnamed_memory_error_set())
      raise_out_of_memory(who);
  } catch (const InternalFailure& failure) {
    PyErr_Clear();
    try {
      raise_panic(failure.text(), failure.where().file_name(), failure.where().line());
    } catch (...) {
      PyErr_NoMemory();
    }
  } catch (const sizes::MemoryRefused& refused) {
    PyErr_Clear();
    PyErr_SetString(PyExc_MemoryError, refused.what());
  } catch (const std::bad_alloc&) {
    raise_out_of_memory(who);
  } catch (const std::length_error&) {
    raise_out_of_memory(who);
  } catch (const std::exception& e) {
    PyErr_Clear();
    try {
      raise_panic(e.what(), __FILE__, __LINE__);
    } catch (...) {
      PyErr_NoMemory();
    }
  } catch (...) {
    PyErr_Clear();
    try {
      raise_panic("unknown native failure", __FILE__, __LINE__);
    } catch (...) {
      PyErr_NoMemory();
    }
  }
}

}  // namespace velk::py
