// Zeroed memory of the corner tables: the C library's for small tables, a private anonymous
// mapping aligned to 2 MB (and marked for 2 MB pages) for large ones.
#include "io/vertex_merge.hpp"

#include <sys/mman.h>

#include <cstdlib>
#include <new>

namespace velk::io {

namespace {
constexpr std::size_t kLargePage = std::size_t{2} << 20;
}

ZeroedPages::ZeroedPages(std::size_t bytes) {
  if (bytes == 0) return;
  if (bytes < kLargePage) {
    base_ = data_ = std::calloc(bytes, 1);
    if (!base_) throw std::bad_alloc();
    return;
  }
  const std::size_t rounded = (bytes + kLargePage - 1) / kLargePage * kLargePage;
  const std::size_t mapped = rounded + kLargePage;
  void* base = ::mmap(nullptr, mapped, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (base == MAP_FAILED) throw std::bad_alloc();
  base_ = base;
  mapped_ = mapped;
  const auto address = reinterpret_cast<std::uintptr_t>(base);
  data_ = reinterpret_cast<void*>((address + kLargePage - 1) / kLargePage * kLargePage);
  // Only a hint: without large pages the table works the same, just more slowly.
  ::madvise(data_, rounded, MADV_HUGEPAGE);
}

ZeroedPages::~ZeroedPages() {
  if (mapped_)
    ::munmap(base_, mapped_);
  else
    std::free(base_);
}

}  // namespace velk::io
