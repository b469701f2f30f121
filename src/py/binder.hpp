// The argument binder: a static parameter list (display name, names, how many are required)
// drives one implementation of every binding TypeError text, for fast calls with keywords and
// for constructors' argument tuple and keyword dictionary.
#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <array>
#include <cstddef>

namespace velk::py {

template <std::size_t N>
struct Params {
  const char* display;  // "write_stl()", "Mesh.__new__()", "Mesh.slice_from_plane()"
  std::array<const char*, N> names;
  std::size_t required;  // the first `required` names are required, the rest default to None
};

// Binds into slots: each slot is a borrowed reference, or null for an omitted parameter (an
// optional parameter given None counts as omitted). Throws PyErrorSet with TypeError set.
void bind_fast(const char* display, const char* const* names, std::size_t count,
               std::size_t required, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames,
               PyObject** slots);
void bind_tuple(const char* display, const char* const* names, std::size_t count,
                std::size_t required, PyObject* args, PyObject* kwargs, PyObject** slots);

template <std::size_t N>
std::array<PyObject*, N> bind(const Params<N>& p, PyObject* const* args, Py_ssize_t nargs,
                              PyObject* kwnames) {
  std::array<PyObject*, N> slots{};
  bind_fast(p.display, p.names.data(), N, p.required, args, nargs, kwnames, slots.data());
  return slots;
}

template <std::size_t N>
std::array<PyObject*, N> bind(const Params<N>& p, PyObject* args, PyObject* kwargs) {
  std::array<PyObject*, N> slots{};
  bind_tuple(p.display, p.names.data(), N, p.required, args, kwargs, slots.data());
  return slots;
}

// The PyMethodDef flags of a fast call with keywords.
inline constexpr int kFast = METH_FASTCALL | METH_KEYWORDS;

// Casts a fast-call-with-keywords function for a PyMethodDef.
using FastFunction = PyObject* (*)(PyObject*, PyObject* const*, Py_ssize_t, PyObject*);
inline PyCFunction as_method(FastFunction f) {
  return reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(f));
}
using NoArgFunction = PyObject* (*)(PyObject*, PyObject*);
inline PyCFunction as_method(NoArgFunction f) {
  return f;
}

}  // namespace velk::py
