// RowMatrix: the square matrix the RBF fit builds, equilibrates and factorises in place. Its
// entries are one block of memory reached through a table of row addresses, so the
// factorisation's row swaps swap addresses. A large one is placed on 2 MiB pages: the
// factorisation sweeps every row of the matrix per block of columns, and on 4 KiB pages each
// row would cost an address-translation miss. The last large block released is kept for the
// next fit of at most its size, which then skips the system's zeroing of fresh pages.
#pragma once

#include <cstddef>
#include <vector>

#include "core/pages.hpp"

namespace velk::interp {

class RowMatrix {
 public:
  RowMatrix() = default;
  // An n × n matrix whose entries the caller writes, every one, before reading any.
  static RowMatrix uninitialised(std::size_t n);
  // A copy of n rows of n entries each.
  static RowMatrix copy_of(const std::vector<std::vector<double>>& rows);

  std::size_t size() const { return rows_.size(); }
  double* operator[](std::size_t i) { return rows_[i]; }
  const double* operator[](std::size_t i) const { return rows_[i]; }
  // The row addresses, in row order; permuting them permutes the rows.
  std::vector<double*>& row_table() { return rows_; }

 private:
  // The entries' block; on release a large one is offered to the kept block (row_matrix.cpp).
  struct Storage {
    Storage() = default;
    explicit Storage(pages::Block b) noexcept : block(std::move(b)) {}
    Storage(Storage&&) noexcept = default;
    Storage& operator=(Storage&&) noexcept = default;  // the old block leaves with the source
    ~Storage();
    pages::Block block;
  };
  Storage block_;
  std::vector<double*> rows_;
};

}  // namespace velk::interp
