// Blocks of independent work handed out one at a time to the worker pool's threads, so that a
// thread slowed down by other work on the machine takes fewer blocks instead of holding up the
// rest. Each block's result depends only on its index, so the bits never depend on which thread
// ran it. A pending interrupt is checked between blocks.
#pragma once

#include <algorithm>
#include <atomic>
#include <cstddef>
#include <functional>

#include "core/interrupt.hpp"
#include "core/worker_pool.hpp"

namespace velk::interp {

// body(i) for every i in [0, count), on the pool when parallel is true and count is at least 2,
// otherwise in index order on the calling thread. alongside, when given, runs on the calling
// thread while the pool works (as pool::run_blocks runs it).
template <class F>
void for_each_block(std::size_t count, bool parallel, F&& body,
                    const std::function<bool()>& alongside = {}) {
  // Between blocks a pending interrupt ends the loop (interrupt::checkpoint).
  if (!parallel || count < 2 || pool::thread_count() < 2) {
    for (std::size_t i = 0; i < count; ++i) {
      interrupt::checkpoint();
      body(i);
    }
    return;
  }
  std::atomic<std::size_t> next{0};
  const std::size_t tasks = std::min(pool::thread_count(), count);
  pool::run_blocks(
      tasks, 2,
      [&](std::size_t, std::size_t) {
        for (std::size_t i; (i = next.fetch_add(1, std::memory_order_relaxed)) < count;) {
          interrupt::checkpoint();
          body(i);
        }
      },
      alongside);
}

}  // namespace velk::interp
