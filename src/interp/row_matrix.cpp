// The storage of RowMatrix: one block, aligned to and advised onto 2 MiB pages when it is at
// least that large (Linux; elsewhere, or when the system declines, ordinary pages).
#include "interp/row_matrix.hpp"

#include <cstdlib>
#include <cstring>
#include <new>

#if defined(__linux__)
#include <sys/mman.h>
#endif

namespace velk::interp {

namespace {

constexpr std::size_t kHugePage = std::size_t{2} << 20;

double* allocate_block(std::size_t count) {
  const std::size_t bytes = count * sizeof(double);
  void* block = nullptr;
  if (bytes >= kHugePage) {
    const std::size_t rounded = (bytes + kHugePage - 1) / kHugePage * kHugePage;
    block = std::aligned_alloc(kHugePage, rounded);
#if defined(__linux__)
    if (block) (void)madvise(block, rounded, MADV_HUGEPAGE);
#endif
  } else {
    block = std::malloc(bytes ? bytes : 1);
  }
  if (!block) throw std::bad_alloc();
  return static_cast<double*>(block);
}

}  // namespace

void RowMatrix::Release::operator()(double* block) const {
  std::free(block);
}

RowMatrix RowMatrix::uninitialised(std::size_t n) {
  RowMatrix m;
  m.block_.reset(allocate_block(n * n));
  m.rows_.resize(n);
  for (std::size_t i = 0; i < n; ++i) m.rows_[i] = m.block_.get() + i * n;
  return m;
}

RowMatrix RowMatrix::copy_of(const std::vector<std::vector<double>>& rows) {
  RowMatrix m = uninitialised(rows.size());
  for (std::size_t i = 0; i < rows.size(); ++i)
    if (!rows[i].empty()) std::memcpy(m.rows_[i], rows[i].data(), rows.size() * sizeof(double));
  return m;
}

}  // namespace velk::interp
