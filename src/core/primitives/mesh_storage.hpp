// Shared by the generators: an empty mesh with room reserved for exactly the counts it will
// hold, refused with a MemoryError text when those counts (plus any scratch memory the generator
// needs) cannot fit in the machine's memory.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#if defined(__linux__)
#include <sys/mman.h>
#endif

#include "core/checked_size.hpp"
#include "core/interrupt.hpp"
#include "core/mesh.hpp"

namespace velk::primitives {

// Asks the kernel to back the reserved room of a large buffer with huge pages, as numpy does for
// its large arrays: a generator fills tens of megabytes at once, and faulting them in 4 KiB
// pages costs more than computing them. Only whole 2 MiB pages inside the room are advised; a
// refusal changes nothing.
template <class T>
void advise_huge_pages(const std::vector<T>& buffer) {
#if defined(MADV_HUGEPAGE)
  constexpr std::uintptr_t kHuge = std::uintptr_t{2} << 20;
  const auto start = reinterpret_cast<std::uintptr_t>(buffer.data());
  const std::uintptr_t begin = (start + kHuge - 1) & ~(kHuge - 1);
  const std::uintptr_t end = (start + buffer.capacity() * sizeof(T)) & ~(kHuge - 1);
  if (end > begin) madvise(reinterpret_cast<void*>(begin), end - begin, MADV_HUGEPAGE);
#else
  (void)buffer;
#endif
}

// Maps in every whole page of [data, data + bytes) without changing its contents (the kernel
// fills each page as a write would), so that later writes do not fault. Safe while another
// thread writes the same memory; where the kernel cannot do it, nothing happens.
inline void prefault(const void* data, std::size_t bytes) {
#if defined(MADV_POPULATE_WRITE)
  constexpr std::uintptr_t kPage = 4096;
  const auto start = reinterpret_cast<std::uintptr_t>(data);
  const std::uintptr_t begin = (start + kPage - 1) & ~(kPage - 1);
  const std::uintptr_t end = (start + bytes) & ~(kPage - 1);
  // In pieces of 32 MiB, so that a pending interrupt is seen between them.
  constexpr std::uintptr_t kPiece = std::uintptr_t{32} << 20;
  for (std::uintptr_t at = begin; at < end; at += kPiece) {
    interrupt::checkpoint();
    madvise(reinterpret_cast<void*>(at), std::min(kPiece, end - at), MADV_POPULATE_WRITE);
  }
#else
  (void)data, (void)bytes;
#endif
}

// The reserved room of a buffer, as above.
template <class T>
void prefault(const std::vector<T>& buffer) {
  prefault(buffer.data(), buffer.capacity() * sizeof(T));
}

inline Mesh reserve_mesh(uint64_t node_count, uint64_t cell_count, uint64_t scratch_bytes = 0) {
  const uint64_t total = sizes::add(sizes::add(sizes::bytes(node_count, sizeof(Point3)),
                                               sizes::bytes(cell_count, sizeof(Triangle))),
                                    scratch_bytes);
  sizes::require_memory(total, "a mesh of " + std::to_string(node_count) + " nodes and " +
                                   std::to_string(cell_count) + " cells");
  Mesh mesh;
  mesh.nodes.reserve(node_count);
  mesh.cells.reserve(cell_count);
  advise_huge_pages(mesh.nodes);
  advise_huge_pages(mesh.cells);
  return mesh;
}

}  // namespace velk::primitives
