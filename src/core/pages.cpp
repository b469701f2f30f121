// Huge-page blocks, huge-page advice and page population (Linux madvise and mmap; elsewhere the
// C library's memory and no hints).
#include "core/pages.hpp"

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <new>

#if defined(__linux__)
#include <sys/mman.h>
#endif

#include "core/interrupt.hpp"

namespace velk::pages {

namespace {

constexpr std::uintptr_t kPage = 4096;

#if defined(__linux__)
// MADV_POPULATE_WRITE (Linux 5.14), named here for C libraries whose headers predate it; older
// kernels answer EINVAL and nothing changes.
#if defined(MADV_POPULATE_WRITE)
constexpr int kPopulateWrite = MADV_POPULATE_WRITE;
#else
constexpr int kPopulateWrite = 23;
#endif
#endif

std::uintptr_t round_down(std::uintptr_t at, std::uintptr_t unit) {
  return at & ~(unit - 1);
}
std::uintptr_t round_up(std::uintptr_t at, std::uintptr_t unit) {
  return round_down(at + unit - 1, unit);
}

}  // namespace

void advise_huge(const void* data, std::size_t bytes) {
#if defined(__linux__) && defined(MADV_HUGEPAGE)
  const auto start = reinterpret_cast<std::uintptr_t>(data);
  const std::uintptr_t begin = round_up(start, kHugePage),
                       end = round_down(start + bytes, kHugePage);
  if (end > begin) (void)madvise(reinterpret_cast<void*>(begin), end - begin, MADV_HUGEPAGE);
#else
  (void)data, (void)bytes;
#endif
}

void populate(const void* data, std::size_t bytes, bool interruptible) {
#if defined(__linux__)
  const auto start = reinterpret_cast<std::uintptr_t>(data);
  const std::uintptr_t begin = round_up(start, kPage), end = round_down(start + bytes, kPage);
  // Two huge pages per piece: mapping one in may wait for the system to compact memory.
  constexpr std::uintptr_t kPiece = std::uintptr_t{4} << 20;
  for (std::uintptr_t at = begin; at < end; at += kPiece) {
    if (interruptible) interrupt::checkpoint();
    (void)madvise(reinterpret_cast<void*>(at), std::min(kPiece, end - at), kPopulateWrite);
  }
#else
  (void)data, (void)bytes, (void)interruptible;
#endif
}

Block::Block(std::size_t bytes, Fill fill) {
  if (bytes == 0) return;
#if defined(__linux__)
  if (bytes >= kHugePage) {
    // Mapped with one huge page to spare, then trimmed to the aligned part.
    const std::size_t rounded = round_up(bytes, kHugePage);
    const std::size_t mapped = rounded + kHugePage;
    void* base =
        ::mmap(nullptr, mapped, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (base == MAP_FAILED) throw std::bad_alloc();
    const auto address = reinterpret_cast<std::uintptr_t>(base);
    const std::uintptr_t aligned = round_up(address, kHugePage);
    if (aligned > address) ::munmap(base, aligned - address);
    const std::uintptr_t tail = address + mapped - (aligned + rounded);
    if (tail > 0) ::munmap(reinterpret_cast<void*>(aligned + rounded), tail);
    data_ = reinterpret_cast<void*>(aligned);
    size_ = rounded;
    mapped_ = true;
    advise_huge(data_, size_);
    return;
  }
#endif
  data_ = fill == Fill::Zero ? std::calloc(bytes, 1) : std::malloc(bytes);
  if (!data_) throw std::bad_alloc();
  size_ = bytes;
}

Block::~Block() {
#if defined(__linux__)
  if (mapped_) {
    ::munmap(data_, size_);
    return;
  }
#endif
  std::free(data_);
}

}  // namespace velk::pages
