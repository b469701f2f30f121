// The one page allocator of the kernels: large blocks on 2 MiB pages, huge-page advice for
// memory allocated elsewhere (a std::vector's reserved room), and population of pages ahead of
// their first write. Large tables probed at random, matrices swept row by row and fresh lists of
// many megabytes all pay more for 4 KiB page faults and address-translation misses than for
// their arithmetic. Everything here is a hint to the kernel (Linux): where it declines, or on
// another system, memory behaves as ordinary memory and only the speed differs.
#pragma once

#include <cstddef>
#include <utility>
#include <vector>

namespace velk::pages {

// The size of a huge page, and the size from which a Block is placed on them.
constexpr std::size_t kHugePage = std::size_t{2} << 20;

// Asks the kernel to back the whole 2 MiB pages inside [data, data + bytes) with huge pages, as
// numpy does for its large arrays. A refusal changes nothing.
void advise_huge(const void* data, std::size_t bytes);

// The reserved room of a vector, as above (call it right after reserve()).
template <class T>
void advise_huge(const std::vector<T>& buffer) {
  advise_huge(buffer.data(), buffer.capacity() * sizeof(T));
}

// Maps in every whole page of [data, data + bytes) without changing its contents (the kernel
// fills each page as a write would), so that later writes do not fault. Safe while another
// thread writes the same memory. When interruptible, works in pieces of 4 MiB with an
// interrupt::checkpoint() before each; pass false where no check may run (inside an allocator).
void populate(const void* data, std::size_t bytes, bool interruptible = true);

// The reserved room of a vector, as above.
template <class T>
void populate(const std::vector<T>& buffer) {
  populate(buffer.data(), buffer.capacity() * sizeof(T));
}

// A block of memory owned like a unique_ptr. One of at least kHugePage bytes is its own private
// mapping, aligned to and advised onto 2 MiB pages, its size rounded up to whole huge pages, and
// zero-filled by the system page by page on first touch; a smaller one comes from the C library
// (zero-filled only when asked). Throws std::bad_alloc when the system refuses.
class Block {
 public:
  enum class Fill { Any, Zero };
  Block() = default;
  Block(std::size_t bytes, Fill fill);
  Block(Block&& other) noexcept
      : data_(std::exchange(other.data_, nullptr)),
        size_(std::exchange(other.size_, 0)),
        mapped_(std::exchange(other.mapped_, false)) {}
  Block& operator=(Block&& other) noexcept {
    std::swap(data_, other.data_);
    std::swap(size_, other.size_);
    std::swap(mapped_, other.mapped_);
    return *this;
  }
  ~Block();

  void* data() const { return data_; }
  // The usable size: the request, rounded up to whole huge pages for a mapped block.
  std::size_t size() const { return size_; }

 private:
  void* data_ = nullptr;
  std::size_t size_ = 0;
  bool mapped_ = false;
};

}  // namespace velk::pages
