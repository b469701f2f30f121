// Result building: the public builders and the staged list.
#include "py/results.hpp"

#include <string>

#include "core/checked_size.hpp"
#include "core/internal_failure.hpp"

namespace velk::py {

namespace {

template <class F>
Ref build_list(std::size_t n, F&& make) {
  Ref list = Ref::steal(PyList_New(static_cast<Py_ssize_t>(n)));
  for (std::size_t i = 0; i < n; ++i)
    PyList_SET_ITEM(list.get(), static_cast<Py_ssize_t>(i), make(i).release());
  return list;
}

// A result list that may hold a million small lists, built in one stage.
template <class F>
Ref build_large_list(std::size_t n, uint64_t bytes_per_item, const char* what, F&& make) {
  StagedList list(n, bytes_per_item, what);
  list.build_to(n, make);
  return list.take();
}

}  // namespace

Ref py_float(double value) {
  return Ref::steal(PyFloat_FromDouble(value));
}
Ref py_int(uint64_t value) {
  return Ref::steal(PyLong_FromSize_t(static_cast<std::size_t>(value)));
}
Ref py_none() {
  return Ref::add(Py_None);
}

// A new three-item list [make(a), make(b), make(c)].
template <class T, class Make>
Ref py_triple(const T& a, const T& b, const T& c, Make make) {
  Ref list = Ref::steal(PyList_New(3));
  PyList_SET_ITEM(list.get(), 0, make(a).release());
  PyList_SET_ITEM(list.get(), 1, make(b).release());
  PyList_SET_ITEM(list.get(), 2, make(c).release());
  return list;
}

Ref py_point3(const Point3& p) {
  return py_triple(p.x, p.y, p.z, py_float);
}

Ref py_triangle(const Triangle& t) {
  return py_triple(t.a, t.b, t.c, py_int);
}

Ref py_node_list(const NodeList& nodes) {
  return build_large_list(nodes.size(), budget::kNodeBytes, "nodes",
                          [&](std::size_t i) { return py_point3(nodes[i]); });
}

StagedList::StagedList(std::size_t n, uint64_t bytes_per_item, const char* what) : size_(n) {
  sizes::require_memory(sizes::bytes(n, bytes_per_item),
                        "a result of " + std::to_string(n) + " " + what);
  list_ = Ref::steal(PyList_New(static_cast<Py_ssize_t>(n)));
}

Ref StagedList::take() {
  if (built_ != size_) internal_failure("a staged result list was taken half-built");
  return std::move(list_);
}

Ref py_cell_list(const CellList& cells) {
  return build_large_list(cells.size(), budget::kCellBytes, "cells",
                          [&](std::size_t i) { return py_triangle(cells[i]); });
}

Ref py_index_list(const IndexList& ids) {
  return build_large_list(ids.size(), budget::kIndexBytes, "indices",
                          [&](std::size_t i) { return py_int(ids[i]); });
}

Ref py_corner_triples(const std::vector<CornerTriple>& triples) {
  return build_large_list(
      triples.size(), budget::kCornerTripleBytes, "corner triples", [&](std::size_t i) {
        return build_list(3, [&](std::size_t k) { return py_point3(triples[i][k]); });
      });
}

Ref py_matrix(const Matrix4& m) {
  return build_list(4, [&](std::size_t r) {
    return build_list(4, [&](std::size_t c) { return py_float(m[r][c]); });
  });
}

Ref py_mesh_lists(const Mesh& mesh) {
  ResultBuildGuard guard;
  Ref nodes = py_node_list(mesh.nodes);
  Ref cells = py_cell_list(mesh.cells);
  Ref tuple = Ref::steal(PyTuple_New(2));
  PyTuple_SET_ITEM(tuple.get(), 0, nodes.release());
  PyTuple_SET_ITEM(tuple.get(), 1, cells.release());
  return tuple;
}

}  // namespace velk::py
