// The memory budget of Python results: what each item of a large result list costs in Python
// objects, as the interpreter's allocator rounds them. The memory guard counts these before a
// list is built (StagedList), and the core's memory checks add them per node where a core
// result becomes a Python list (the lattices of clusters and design blocks), so that a request
// whose Python result would not fit fails with MemoryError before any work. Stated here once.
#pragma once

#include <cstdint>

namespace velk::py::budget {

// A node: a list of three floats and its slot in the outer list.
inline constexpr uint64_t kNodeBytes = 200;
// A cell: a list of three ints (most not cached) and its slot.
inline constexpr uint64_t kCellBytes = 200;
// An index: an int and its slot.
inline constexpr uint64_t kIndexBytes = 40;
// A corner triple: a list of three nodes and its slot.
inline constexpr uint64_t kCornerTripleBytes = 3 * kNodeBytes + 96;

}  // namespace velk::py::budget
