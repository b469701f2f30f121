// Ref: an owned strong reference to a Python object. Made only by stealing a new reference or
// by adding one to a borrowed pointer; borrowed references stay plain PyObject* and are never
// stored.
#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

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
  // Adds a reference to a borrowed, non-null pointer.
  static Ref add(PyObject* obj) {
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

}  // namespace velk::py
