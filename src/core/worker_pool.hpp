// The process-wide worker pool and the parallel primitives every kernel uses. Each primitive is
// stated once here; new kernels should pick one of them rather than schedule work themselves.
//
//   run_blocks      index-range map: contiguous blocks of [0, n), split evenly, one per thread
//   parallel_map    index-range map with one result per index, returned in index order
//   parallel_for    index-range map, each index writing only its own outputs
//   for_each_block  dynamic blocks: indices handed out one at a time, a state per task
//   side_by_side    two different jobs at once (for example: write one buffer, fill the next)
//   beside_caller   a job on the pool while the calling thread runs a blocking one
//   run_blocks(…, alongside)
//                   work alongside the caller: the calling thread runs a step of its own
//                   over and over while the blocks run
//   for_each_block_in_order
//                   ordered hand-over: dynamic blocks whose finished prefix the calling thread
//                   passes on in index order while the workers go on
//
// Common rules: every result is bit-identical to the serial loop whatever the thread count (a
// block's result may depend only on its index, never on the thread that ran it). Small ranges,
// a one-thread pool and loops nested in a task run serially on the calling thread. An exception
// thrown in a block is re-thrown on the caller once every block has returned, the block with
// the lowest indices winning, so failures are deterministic. While the blocks run, the calling
// thread polls the interrupt check (core/interrupt.hpp); blocks call interrupt::checkpoint()
// between pieces of work so that a pending interrupt ends the loop. Bodies touch only core
// values, never Python objects.
#pragma once

#include <algorithm>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <exception>
#include <functional>
#include <optional>
#include <thread>
#include <vector>

#include "core/interrupt.hpp"

namespace velk::pool {

// Number of threads the pool has (or will have when first used): a decimal integer in
// RAYON_NUM_THREADS, else (unset or junk) one in RAYON_RS_NUM_CPUS; 0, or neither, means the
// default, the processors in the process's affinity mask. A number is clamped to at most 4
// threads per such processor and at most 256 threads.
std::size_t thread_count();

// Whether the current thread is one of the pool's workers (loops nested in a task run serially,
// and only the calling thread polls for interrupts).
bool on_worker();

// ---- Index-range map ----

// Runs block(begin, end) over contiguous blocks covering [0, n): one block per configured
// thread (at most n), the first n % blocks blocks one index longer. On the pool when n is at
// least min_parallel and the pool has more than one thread, otherwise block(0, n) on the calling
// thread. Waits for every block; failures as in the common rules.
// Work alongside the caller: when the blocks run on the pool, alongside (if given) is called on
// the calling thread over and over while they run, until it returns false, so the caller can
// use finished results at once; it is not called when the blocks run on the calling thread. An
// exception from it stops the blocks as an interrupt does and is re-thrown once every block has
// returned. With alongside, a single block (n = 1) goes to the pool too.
void run_blocks(std::size_t n, std::size_t min_parallel,
                const std::function<void(std::size_t begin, std::size_t end)>& block,
                const std::function<bool()>& alongside = {});

// Results of body(i) for i in [0, n), in index order.
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

// first() and second() at the same time on two of the pool's threads, the caller waiting;
// with a one-thread pool (or nested in a task), first() then second() on the calling thread.
// The two must not depend on each other's progress. A failure of first() wins over one of
// second().
template <class First, class Second>
void side_by_side(First&& first, Second&& second) {
  run_blocks(2, 2, [&](std::size_t begin, std::size_t end) {
    if (begin == 0) first();
    if (end == 2) second();
  });
}

// worker() on the pool while caller() runs on the calling thread, so that a blocking system call
// in caller() stays where Ctrl-C can end it (workers block signals); with a one-thread pool both
// run on the calling thread, worker() first. An exception from either ends the pair as in
// run_blocks.
template <class Worker, class Caller>
void beside_caller(Worker&& worker, Caller&& caller) {
  bool ran = false;
  run_blocks(
      1, 1, [&](std::size_t, std::size_t) { worker(); },
      [&] {
        caller();
        ran = true;
        return false;
      });
  if (!ran) caller();
}

// ---- Dynamic blocks ----

// How many tasks a dynamic loop of `count` blocks runs on the pool: at most max_tasks, one per
// thread the pool leaves free (the calling thread counts as busy when it works too), one per
// block.
inline std::size_t dynamic_tasks(std::size_t count, std::size_t max_tasks, bool caller_works) {
  const std::size_t threads = thread_count();
  const std::size_t free = caller_works && threads > 1 ? threads - 1 : threads;
  return std::min({count, max_tasks, free});
}

// body(state, i) for every i in [0, count), the indices handed out one at a time to at most
// max_tasks tasks on the pool, so that a thread slowed by other work on the machine takes fewer
// blocks instead of holding up the rest. Each task makes its state once with make_state() (a
// scratch buffer reused by every block it takes). A pending interrupt is checked before each
// block. With fewer than two tasks, the blocks run in index order on the calling thread.
// alongside, when given, runs on the calling thread while the tasks run (as in run_blocks).
template <class MakeState, class Body>
void for_each_block(std::size_t count, std::size_t max_tasks, MakeState&& make_state, Body&& body,
                    const std::function<bool()>& alongside = {}) {
  const std::size_t tasks = dynamic_tasks(count, max_tasks, false);
  std::atomic<std::size_t> next{0};
  const auto task = [&](std::size_t, std::size_t) {
    auto state = make_state();
    for (std::size_t i; (i = next.fetch_add(1, std::memory_order_relaxed)) < count;) {
      interrupt::checkpoint();
      body(state, i);
    }
  };
  if (tasks < 2) {
    if (count > 0) task(0, 1);
    return;
  }
  run_blocks(tasks, 2, task, alongside);
}

// body(i) for every i in [0, count) as above, with no state; on the pool only when parallel.
template <class Body>
void for_each_block(std::size_t count, bool parallel, Body&& body,
                    const std::function<bool()>& alongside = {}) {
  struct None {};
  for_each_block(
      count, parallel ? SIZE_MAX : 1, [] { return None{}; }, [&](None, std::size_t i) { body(i); },
      alongside);
}

// ---- Ordered hand-over of finished blocks ----

// The dynamic blocks of for_each_block, with the calling thread handing over what is finished
// in index order: hand_over(k) is called on the calling thread each time blocks [0, k) have all
// finished (k growing), while the workers go on with later blocks, so the caller can use the
// first results before the last are computed. When nothing new is finished the calling thread
// runs a block itself (with a state of its own) rather than wait; the pool runs one task fewer.
// The last call is hand_over(count) once every block has finished (it may repeat the call
// before). With a one-thread pool the blocks run in order on the calling thread, then
// hand_over(count).
template <class MakeState, class Body, class HandOver>
void for_each_block_in_order(std::size_t count, std::size_t max_tasks, MakeState&& make_state,
                             Body&& body, HandOver&& hand_over) {
  const std::size_t tasks = std::max<std::size_t>(1, dynamic_tasks(count, max_tasks, true));
  std::atomic<std::size_t> next{0};
  std::vector<std::atomic<bool>> finished(count);
  const auto run = [&](auto& state, std::size_t i) {
    body(state, i);
    finished[i].store(true, std::memory_order_release);
  };
  std::optional<decltype(make_state())> own;  // the calling thread's, made when first needed
  std::size_t passed = 0;                     // blocks handed over
  const auto pass_on = [&] {
    const std::size_t from = passed;
    while (passed < count && finished[passed].load(std::memory_order_acquire)) ++passed;
    if (passed > from) {
      hand_over(passed);
    } else if (const std::size_t i = next.fetch_add(1, std::memory_order_relaxed); i < count) {
      if (!own) own.emplace(make_state());
      run(*own, i);
    } else {
      std::this_thread::yield();
    }
    return passed < count;
  };
  run_blocks(
      tasks, 1,
      [&](std::size_t, std::size_t) {
        auto state = make_state();
        for (std::size_t i; (i = next.fetch_add(1, std::memory_order_relaxed)) < count;) {
          interrupt::checkpoint();
          run(state, i);
        }
      },
      pass_on);
  hand_over(count);
}

}  // namespace velk::pool
