// Drives the worker pool's primitives for test_worker_pool.py: prints one line per check,
// "ok <name>" or "FAIL <name>: <why>". Run with RAYON_NUM_THREADS set by the test.
#include <atomic>
#include <cstdio>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "../driver_report.hpp"
#include "core/worker_pool.hpp"

using namespace velk;

namespace {

// Every index of [0, count) ran exactly once, and no more states were made than tasks allowed.
std::string dynamic_blocks(std::size_t count, std::size_t max_tasks) {
  std::vector<std::atomic<int>> runs(count);
  std::atomic<std::size_t> states{0};
  pool::for_each_block(
      count, max_tasks, [&] { return states.fetch_add(1) + 1; },
      [&](std::size_t, std::size_t i) { runs[i].fetch_add(1); });
  for (std::size_t i = 0; i < count; ++i)
    if (runs[i].load() != 1)
      return "index " + std::to_string(i) + " ran " + std::to_string(runs[i]);
  const std::size_t allowed = std::max<std::size_t>(1, std::min(max_tasks, pool::thread_count()));
  if (count > 0 && states.load() > allowed) return std::to_string(states.load()) + " states";
  return "";
}

// Each hand-over names a prefix that is wholly finished, the prefixes grow, and the last one is
// the whole range.
std::string ordered_hand_over(std::size_t count) {
  std::vector<std::atomic<bool>> done(count);
  std::vector<std::size_t> handed;
  std::string why;
  pool::for_each_block_in_order(
      count, SIZE_MAX, [] { return 0; },
      [&](int, std::size_t i) {
        if (i % 7 == 0) std::this_thread::yield();  // blocks finish out of order
        done[i].store(true);
      },
      [&](std::size_t k) {
        for (std::size_t i = 0; i < k; ++i)
          if (!done[i].load()) why = "block " + std::to_string(i) + " handed over unfinished";
        handed.push_back(k);
      });
  if (!why.empty()) return why;
  if (handed.empty() || handed.back() != count) return "the last hand-over is not the whole";
  for (std::size_t j = 1; j < handed.size(); ++j)
    if (handed[j] < handed[j - 1]) return "a hand-over shrank";
  return "";
}

// A block that throws, and a hand-over that throws, end the call with their exception once
// every block has returned.
std::string failures_reach_the_caller() {
  std::atomic<int> running{0};
  try {
    pool::for_each_block(
        1000, SIZE_MAX, [] { return 0; },
        [&](int, std::size_t i) {
          running.fetch_add(1);
          if (i == 500) throw std::runtime_error("block 500");
          running.fetch_sub(1);
        });
    return "no exception from a block";
  } catch (const std::runtime_error& e) {
    if (std::string(e.what()) != "block 500") return e.what();
  }
  try {
    pool::for_each_block_in_order(
        1000, SIZE_MAX, [] { return 0; }, [&](int, std::size_t) { running.fetch_add(0); },
        [&](std::size_t) { throw std::runtime_error("hand-over"); });
    return "no exception from the hand-over";
  } catch (const std::runtime_error& e) {
    if (std::string(e.what()) != "hand-over") return e.what();
  }
  return running.load() == 1 ? "" : "a block still ran after its loop ended";
}

// Both jobs run; with one thread the first runs before the second.
std::string two_jobs_side_by_side() {
  std::mutex m;
  std::vector<int> order;
  pool::side_by_side(
      [&] {
        std::lock_guard<std::mutex> lock(m);
        order.push_back(1);
      },
      [&] {
        std::lock_guard<std::mutex> lock(m);
        order.push_back(2);
      });
  if (order.size() != 2) return "ran " + std::to_string(order.size()) + " jobs";
  if (pool::thread_count() == 1 && order[0] != 1) return "second before first on one thread";
  return "";
}

}  // namespace

int main() {
  std::string why;
  for (std::size_t count : {0, 1, 2, 3, 1000})
    for (std::size_t tasks : {std::size_t{1}, std::size_t{2}, std::size_t{SIZE_MAX}})
      if (why.empty()) why = dynamic_blocks(count, tasks);
  report("dynamic_blocks", why);
  why.clear();
  for (std::size_t count : {0, 1, 5, 4096})
    if (why.empty()) why = ordered_hand_over(count);
  report("ordered_hand_over", why);
  report("failures_reach_the_caller", failures_reach_the_caller());
  report("side_by_side", two_jobs_side_by_side());
}
