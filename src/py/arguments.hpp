// Argument conversion: Python objects into core values. Each converter throws PyErrorSet with
// the exact exception set; a C-contiguous numeric array takes a buffer fast path with the same
// results and errors as the generic one. Shared by every entry point.
#pragma once

#include "py/python.hpp"

#include <optional>
#include <string>
#include <utility>

#include "core/matrix.hpp"
#include "core/mesh.hpp"
#include "core/point.hpp"
#include "py/error_route.hpp"
#include "py/ref.hpp"

namespace velk::py {

double to_float(PyObject* obj);
uint64_t to_unsigned(PyObject* obj);
uint32_t to_u32(PyObject* obj);
Point3 to_point3(PyObject* obj);
Triangle to_triangle(PyObject* obj);
// Three unsigned integers read x, y, z, as a resolution.
Resolution to_resolution(PyObject* obj);
NodeList to_node_list(PyObject* obj);
CellList to_cell_list(PyObject* obj);
IndexList to_index_list(PyObject* obj);
Matrix4 to_matrix(PyObject* obj);
std::pair<double, double> to_float_pair(PyObject* obj);
std::string to_string(PyObject* obj);
// A file name as open() takes it: a str (encoded with the file-system encoding, surrogate
// escapes included), bytes, or an os.PathLike giving either. Anything else is refused with the
// TypeError of to_string.
std::string to_filename(PyObject* obj);

// "'<qualname>' object cannot be converted to '<target>'" as a TypeError.
[[noreturn]] void raise_downcast(PyObject* obj, const char* target);

// The argument-prefix route: converts a named argument; a TypeError from the conversion is replaced
// by "argument '<name>': <text>" with the original as its cause; other exceptions pass unchanged.
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

// A converter for a parameter with a default: absent (std::nullopt) when omitted or None.
template <class F>
constexpr auto optional(F convert) {
  return [convert](PyObject* obj) -> std::optional<decltype(convert(obj))> {
    if (!obj) return std::nullopt;
    return convert(obj);
  };
}

}  // namespace velk::py
