// Result building: core values into new Python objects (new references, lists built at their
// final size), and the staged list under every large result. Shared by every entry point.
#pragma once

#include "py/python.hpp"

#include <cstdint>
#include <vector>

#include "core/interrupt.hpp"
#include "core/matrix.hpp"
#include "core/mesh.hpp"
#include "core/point.hpp"
#include "py/ref.hpp"
#include "py/result_budget.hpp"
#include "py/result_build_guard.hpp"

namespace velk::py {

Ref py_float(double value);
Ref py_int(uint64_t value);
Ref py_none();
Ref py_point3(const Point3& p);
Ref py_triangle(const Triangle& t);
Ref py_node_list(const NodeList& nodes);
// A large result list built in stages: refused at once when its Python objects (bytes_per_item
// each, see result_budget.hpp) cannot fit in memory, else made at its final size and filled
// front to back under a ResultBuildGuard for the builder's life. A pending Ctrl-C ends a long
// build; the half-built list is released.
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
  ResultBuildGuard guard_;
  Ref list_;
  std::size_t size_, built_ = 0;
};

// A node list built in stages as its nodes become final (nodes being the whole array's address).
class StagedNodeList : StagedList {
 public:
  explicit StagedNodeList(std::size_t n) : StagedList(n, budget::kNodeBytes, "nodes") {}
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
