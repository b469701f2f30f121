// The storage of RowMatrix: one block from the page allocator (on 2 MiB pages when at least that
// large), and the one released large block kept for reuse.
#include "interp/row_matrix.hpp"

#include <cstring>
#include <mutex>
#include <utility>

namespace velk::interp {

namespace {

// The largest released block kept for reuse (a fit of up to about 5800 points), so that what a
// process holds after its last fit stays bounded.
constexpr std::size_t kKeptLimit = std::size_t{256} << 20;

// The one released block kept, guarded by its mutex.
std::mutex kept_mutex;
pages::Block kept;

// A block of at least `bytes`: the kept one when it fits without wasting more than half of
// itself, otherwise a new one. A new large block is mapped in here, piece by piece with an
// interrupt checkpoint between pieces: left to the first writes, the system's search for free
// 2 MiB pages could stall the filling loop for seconds between two of its checkpoints.
pages::Block allocate_block(std::size_t bytes) {
  if (bytes >= pages::kHugePage) {
    {
      std::lock_guard<std::mutex> lock(kept_mutex);
      if (kept.size() >= bytes && kept.size() / 2 <= bytes)
        return std::exchange(kept, pages::Block());
    }
    pages::Block block(bytes, pages::Block::Fill::Any);
    pages::populate(block.data(), block.size());
    return block;
  }
  return pages::Block(bytes, pages::Block::Fill::Any);
}

}  // namespace

RowMatrix::Storage::~Storage() {
  const std::size_t bytes = block.size();
  if (bytes >= pages::kHugePage && bytes <= kKeptLimit) {
    std::lock_guard<std::mutex> lock(kept_mutex);
    if (kept.size() < bytes) std::swap(kept, block);  // keep the larger of the two
  }
}

RowMatrix RowMatrix::uninitialised(std::size_t n) {
  RowMatrix m;
  m.block_ = Storage(allocate_block(n * n * sizeof(double)));
  double* const block = static_cast<double*>(m.block_.block.data());
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
