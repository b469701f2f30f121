// The process-wide worker pool and its one primitive: a parallel map over an index range whose
// results come back in index order, bit-identical to the serial loop.
#pragma once

#include <cstddef>
#include <exception>
#include <functional>
#include <optional>
#include <vector>

namespace velk::pool {

// Number of threads the pool has (or will have when first used): a decimal integer in
// RAYON_NUM_THREADS, else (unset or junk) one in RAYON_RS_NUM_CPUS; 0, or neither, means the
// default, the processors in the process's affinity mask. A number is clamped to at most 4
// threads per such processor and at most 256 threads.
std::size_t thread_count();

// Whether the current thread is one of the pool's workers (loops nested in a task run serially,
// and only the calling thread polls for interrupts).
bool on_worker();

// Runs block(begin, end) over contiguous blocks covering [0, n), on the pool when n is at least
// min_parallel and the pool has more than one thread, otherwise on the calling thread. Waits
// for every block; an exception thrown by a block is re-thrown here after all blocks finished,
// the block with the lowest indices winning, so failures are deterministic.
// When the blocks run on the pool, alongside (if given) is called on the calling thread over and
// over while they run, until it returns false, so the caller can use finished results at once;
// it is not called when the blocks run on the calling thread. An exception from it stops the
// blocks as an interrupt does and is re-thrown once every block has returned.
void run_blocks(std::size_t n, std::size_t min_parallel,
                const std::function<void(std::size_t begin, std::size_t end)>& block,
                const std::function<bool()>& alongside = {});

// Results of body(i) for i in [0, n), in index order. body must only touch core values.
template <class R, class F>
std::vector<R> parallel_map(std::size_t n, F&& body, std::size_t min_parallel = 2) {
  std::vector<std::optional<R>> slots(n);
  run_blocks(n, min_parallel, [&](std::size_t begin, std::size_t end) {
    for (std::size_t i = begin; i < end; ++i) slots[i].emplace(body(i));
  });
  std::vector<R> out;
  out.reserve(n);
  for (auto& s : slots) out.push_back(std::move(*s));
  return out;
}

// body(i) for i in [0, n), each index writing only its own outputs.
template <class F>
void parallel_for(std::size_t n, F&& body, std::size_t min_parallel = 2) {
  run_blocks(n, min_parallel, [&](std::size_t begin, std::size_t end) {
    for (std::size_t i = begin; i < end; ++i) body(i);
  });
}

}  // namespace velk::pool
