// The converters: Python objects into core values (each throws PyErrorSet with the exact
// exception set) and core values into new Python objects. Shared by every entry point.
#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <optional>
#include <string>
#include <utility>

#include "core/matrix.hpp"
#include "core/mesh.hpp"
#include "core/point.hpp"
#include "py/ref.hpp"

namespace velk::py {

// ---- Python to core ----
double to_float(PyObject* obj);
uint64_t to_unsigned(PyObject* obj);
uint32_t to_u32(PyObject* obj);
Point3 to_point3(PyObject* obj);
Triangle to_triangle(PyObject* obj);
NodeList to_node_list(PyObject* obj);
CellList to_cell_list(PyObject* obj);
IndexList to_index_list(PyObject* obj);
Matrix4 to_matrix(PyObject* obj);
std::pair<double, double> to_float_pair(PyObject* obj);
std::string to_string(PyObject* obj);

// "'<qualname>' object cannot be converted to '<target>'" as a TypeError.
[[noreturn]] void raise_downcast(PyObject* obj, const char* target);

// Route 3: converts a named argument; a TypeError from the conversion is replaced by
// "argument '<name>': <text>" with the original as its cause; other exceptions pass unchanged.
void prefix_argument_error(const char* name);

template <class F>
auto arg(const char* name, PyObject* obj, F&& convert) -> decltype(convert(obj)) {
  try {
    return convert(obj);
  } catch (const PyErrorSet&) {
    prefix_argument_error(name);
    throw;
  }
}

// An optional argument: absent when omitted or None, otherwise converted as by arg.
template <class F>
auto optional_arg(const char* name, PyObject* obj, F&& convert)
    -> std::optional<decltype(convert(obj))> {
  if (!obj) return std::nullopt;
  return arg(name, obj, convert);
}

// ---- core to Python (new references, lists built at their final size) ----
Ref py_float(double value);
Ref py_int(uint64_t value);
Ref py_none();
Ref py_point3(const Point3& p);
Ref py_triangle(const Triangle& t);
Ref py_node_list(const NodeList& nodes);
Ref py_cell_list(const CellList& cells);
Ref py_index_list(const IndexList& ids);
Ref py_corner_triples(const std::vector<CornerTriple>& triples);
Ref py_matrix(const Matrix4& m);
// A node list and a cell list together: the tuple (nodes, cells).
Ref py_mesh_lists(const Mesh& mesh);

}  // namespace velk::py
