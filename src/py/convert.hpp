// The converters: Python objects into core values (each throws PyErrorSet with the exact
// exception set) and core values into new Python objects. Shared by every entry point.
#pragma once

#include "py/python.hpp"

#include <array>
#include <optional>
#include <string>
#include <tuple>
#include <utility>

#include "core/interrupt.hpp"
#include "core/matrix.hpp"
#include "core/mesh.hpp"
#include "core/point.hpp"
#include "py/collector_pause.hpp"
#include "py/error_route.hpp"
#include "py/ref.hpp"

namespace velk::py {

// ---- Python to core ----
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
// A file name: a str, or an os.PathLike whose os.fspath is a str. Anything else (bytes
// included) is refused with the TypeError of to_string.
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

// ---- core to Python (new references, lists built at their final size) ----

// What one node of a result list costs in Python objects (a list of three floats and its slot
// in the outer list, as the interpreter's allocator rounds them), and one cell (a list of
// three ints, most not cached); counted by the memory checks of large results.
inline constexpr uint64_t kPythonNodeBytes = 200;
inline constexpr uint64_t kPythonCellBytes = 200;
Ref py_float(double value);
Ref py_int(uint64_t value);
Ref py_none();
Ref py_point3(const Point3& p);
Ref py_triangle(const Triangle& t);
Ref py_node_list(const NodeList& nodes);
// A large result list built in stages: refused at once when its Python objects (bytes_per_item
// each) cannot fit in memory, else made at its final size and filled front to back, with the
// collector suspended for the builder's life. A pending Ctrl-C ends a long build; the
// half-built list is released.
class StagedList {
 public:
  StagedList(std::size_t n, uint64_t bytes_per_item, const char* what);
  // Builds the items [built, ready) as make(i).
  template <class F>
  void build_to(std::size_t ready, F&& make) {
    for (; built_ < ready; ++built_) {
      if ((built_ & 0xFFFF) == 0xFFFF) interrupt::poll();
      PyList_SET_ITEM(list_.get(), static_cast<Py_ssize_t>(built_), make(built_).release());
    }
  }
  // The list, once every item is built.
  Ref take();

 private:
  CollectorPause pause_;
  Ref list_;
  std::size_t size_, built_ = 0;
};

// A node list built in stages as its nodes become final (nodes being the whole array's address).
class StagedNodeList : StagedList {
 public:
  explicit StagedNodeList(std::size_t n) : StagedList(n, kPythonNodeBytes, "nodes") {}
  void build_to(const Point3* nodes, std::size_t ready) {
    StagedList::build_to(ready, [&](std::size_t i) { return py_point3(nodes[i]); });
  }
  using StagedList::take;
};
Ref py_cell_list(const CellList& cells);
Ref py_index_list(const IndexList& ids);
Ref py_corner_triples(const std::vector<CornerTriple>& triples);
Ref py_matrix(const Matrix4& m);
// A node list and a cell list together: the tuple (nodes, cells).
Ref py_mesh_lists(const Mesh& mesh);

}  // namespace velk::py
