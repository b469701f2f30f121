// Ref: an owned strong reference to a Python object. Made only by stealing a new reference or
// by adding one to a borrowed pointer; borrowed references stay plain PyObject* and are never
// stored. FetchedError: an exception taken out of the interpreter, owning its three parts.
#pragma once

#include "py/python.hpp"

#include "py/error_route.hpp"

namespace velk::py {

class Ref {
 public:
  Ref() = default;
  // Takes over a new reference returned by a C-API call; a null one means that call failed
  // with a Python exception set, which is thrown on as PyErrorSet.
  static Ref steal(PyObject* obj) {
    if (!obj) throw PyErrorSet{};
    return Ref(obj);
  }
  // Adds a reference to a borrowed pointer. A null one means the call that lent it failed, as
  // for steal; a null lent without an exception set becomes a SystemError.
  static Ref add(PyObject* obj) {
    if (!obj) {
      if (!PyErr_Occurred()) PyErr_SetString(PyExc_SystemError, "borrowed a null reference");
      throw PyErrorSet{};
    }
    Py_INCREF(obj);
    return Ref(obj);
  }
  Ref(Ref&& other) noexcept : obj_(other.obj_) { other.obj_ = nullptr; }
  Ref& operator=(Ref&& other) noexcept {
    if (this != &other) {
      Py_XDECREF(obj_);
      obj_ = other.obj_;
      other.obj_ = nullptr;
    }
    return *this;
  }
  Ref(const Ref&) = delete;
  Ref& operator=(const Ref&) = delete;
  ~Ref() { Py_XDECREF(obj_); }

  PyObject* get() const { return obj_; }
  // Hands the strong reference to the caller.
  PyObject* release() {
    PyObject* obj = obj_;
    obj_ = nullptr;
    return obj;
  }
  explicit operator bool() const { return obj_ != nullptr; }

 private:
  explicit Ref(PyObject* obj) : obj_(obj) {}
  PyObject* obj_ = nullptr;
};

// The exception set at construction, taken out of the interpreter (type, value and traceback,
// each null when absent; all null when none was set) and released at the end of the scope
// unless restored.
class FetchedError {
 public:
  FetchedError() { PyErr_Fetch(&type_, &value_, &traceback_); }
  FetchedError(const FetchedError&) = delete;
  FetchedError& operator=(const FetchedError&) = delete;
  ~FetchedError() {
    Py_XDECREF(type_);
    Py_XDECREF(value_);
    Py_XDECREF(traceback_);
  }

  explicit operator bool() const { return type_ != nullptr; }
  // Makes the value an instance of the type (the type may become a subclass).
  void normalize() { PyErr_NormalizeException(&type_, &value_, &traceback_); }
  bool matches(PyObject* exception) const { return PyErr_GivenExceptionMatches(type_, exception); }
  // Sets the exception again as it was; the holder is empty afterwards.
  void restore() {
    PyErr_Restore(type_, value_, traceback_);
    type_ = value_ = traceback_ = nullptr;
  }

  // Borrowed parts.
  PyObject* type() const { return type_; }
  PyObject* value() const { return value_; }
  PyObject* traceback() const { return traceback_; }

 private:
  PyObject* type_ = nullptr;
  PyObject* value_ = nullptr;
  PyObject* traceback_ = nullptr;
};

}  // namespace velk::py
