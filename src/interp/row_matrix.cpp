// The storage of RowMatrix: one block, aligned to and advised onto 2 MiB pages when it is at
// least that large (Linux; elsewhere, or when the system declines, ordinary pages), and the one
// released large block kept for reuse.
#include "interp/row_matrix.hpp"

#include <cstdlib>
#include <cstring>
#include <mutex>
#include <new>
#include <utility>

#if defined(__linux__)
#include <sys/mman.h>
#endif

namespace velk::interp {

namespace {

constexpr std::size_t kHugePage = std::size_t{2} << 20;
// The largest released block kept for reuse (a fit of up to about 5800 points), so that what a
// process holds after its last fit stays bounded.
constexpr std::size_t kKeptLimit = std::size_t{256} << 20;

// The one released block kept, guarded by its mutex.
std::mutex kept_mutex;
void* kept_block = nullptr;
std::size_t kept_bytes = 0;

// A block of at least `bytes` (rounded up to whole 2 MiB pages when that large), and its size.
std::pair<double*, std::size_t> allocate_block(std::size_t bytes) {
  if (bytes < kHugePage) {
    void* block = std::malloc(bytes ? bytes : 1);
    if (!block) throw std::bad_alloc();
    return {static_cast<double*>(block), bytes};
  }
  const std::size_t rounded = (bytes + kHugePage - 1) / kHugePage * kHugePage;
  {
    std::lock_guard<std::mutex> lock(kept_mutex);
    if (kept_block && kept_bytes >= rounded && kept_bytes / 2 <= rounded) {
      void* block = std::exchange(kept_block, nullptr);
      return {static_cast<double*>(block), std::exchange(kept_bytes, 0)};
    }
  }
  void* block = std::aligned_alloc(kHugePage, rounded);
  if (!block) throw std::bad_alloc();
#if defined(__linux__)
  (void)madvise(block, rounded, MADV_HUGEPAGE);
#endif
  return {static_cast<double*>(block), rounded};
}

}  // namespace

void RowMatrix::Release::operator()(double* block) const {
  if (bytes >= kHugePage && bytes <= kKeptLimit) {
    std::lock_guard<std::mutex> lock(kept_mutex);
    if (kept_bytes < bytes) {  // keep the larger of the two
      std::free(kept_block);
      kept_block = block;
      kept_bytes = bytes;
      return;
    }
  }
  std::free(block);
}

RowMatrix RowMatrix::uninitialised(std::size_t n) {
  RowMatrix m;
  auto [block, bytes] = allocate_block(n * n * sizeof(double));
  m.block_ = std::unique_ptr<double, Release>(block, Release(bytes));
  m.rows_.resize(n);
  for (std::size_t i = 0; i < n; ++i) m.rows_[i] = block + i * n;
  return m;
}

RowMatrix RowMatrix::copy_of(const std::vector<std::vector<double>>& rows) {
  RowMatrix m = uninitialised(rows.size());
  for (std::size_t i = 0; i < rows.size(); ++i)
    if (!rows[i].empty()) std::memcpy(m.rows_[i], rows[i].data(), rows.size() * sizeof(double));
  return m;
}

}  // namespace velk::interp
