// The argument binder: an entry's parameter list (names, how many are required) drives one
// implementation of every binding TypeError text, for fast calls with keywords and for
// constructors' argument tuple and keyword dictionary.
#pragma once

#include "py/python.hpp"

#include <array>
#include <cstddef>
#include <string>

namespace velk::py {

// Who is being called, for the binding error texts: "write_stl()", "Mesh.__new__()",
// "Mesh.slice_from_plane()".
struct Callee {
  const char* owner;      // the class of a method or constructor; nullptr for a module function
  const char* name;       // "__new__" for a constructor
  bool property = false;  // a property's getter or setter rather than a call
  std::string text() const;
  // What a caller asked for, as a MemoryError names it: "f()", "Mesh()", "Mesh.triangles()",
  // or "Mesh.nodes" for a property (a name alone, such as "import velk", without an owner).
  std::string asked_for() const;
};

// Binds into slots: each slot is a borrowed reference, or null for an omitted parameter (an
// optional parameter given None counts as omitted). The first `required` names are required.
// Throws PyErrorSet with TypeError set.
void bind_fast(Callee callee, const char* const* names, std::size_t count, std::size_t required,
               PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames, PyObject** slots);
void bind_tuple(Callee callee, const char* const* names, std::size_t count, std::size_t required,
                PyObject* args, PyObject* kwargs, PyObject** slots);

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
