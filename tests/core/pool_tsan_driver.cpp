// Exercises the worker pool under ThreadSanitizer: ordered maps, nested loops, work alongside the
// caller, failures from blocks and from the caller's interrupt check, and files created from
// several workers at once. Prints "ok" when every result is as the serial loop gives it; any
// data race is reported by the sanitizer, which then fails the run.
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <stdexcept>
#include <string>
#include <vector>

#include "core/interrupt.hpp"
#include "core/worker_pool.hpp"
#include "io/file_handle.hpp"

namespace {

int failures = 0;

void expect(bool ok, const char* what) {
  if (!ok) {
    std::printf("failed: %s\n", what);
    ++failures;
  }
}

std::atomic<int> polls_left{-1};

// The caller's interrupt check: throws once polls_left reaches zero (a Ctrl-C).
void check() {
  if (polls_left.load() > 0 && polls_left.fetch_sub(1) == 1) throw std::runtime_error("interrupt");
}

void ordered_maps() {
  for (std::size_t n : {1, 2, 3, 7, 1000, 100000}) {
    const auto squares = velk::pool::parallel_map<uint64_t>(n, [](std::size_t i) { return i * i; });
    bool same = squares.size() == n;
    for (std::size_t i = 0; same && i < n; ++i) same = squares[i] == i * i;
    expect(same, "parallel_map gives the serial results in order");
  }
}

void nested_loops() {
  std::vector<uint64_t> sums(64);
  velk::pool::parallel_for(sums.size(), [&](std::size_t i) {
    // Nested inside a task: runs serially on that worker.
    const auto inner =
        velk::pool::parallel_map<uint64_t>(100, [&](std::size_t j) { return i + j; });
    for (uint64_t v : inner) sums[i] += v;
  });
  bool same = true;
  for (std::size_t i = 0; i < sums.size(); ++i) same = same && sums[i] == 100 * i + 4950;
  expect(same, "nested loops");
}

void alongside_the_caller() {
  // Blocks publish their progress; the caller reads it while they run.
  std::vector<std::atomic<int>> done(256);
  std::size_t seen = 0;
  velk::pool::run_blocks(
      done.size(), 2,
      [&](std::size_t begin, std::size_t end) {
        for (std::size_t i = begin; i < end; ++i) done[i].store(1, std::memory_order_release);
      },
      [&] {
        seen = 0;
        for (auto& d : done) seen += d.load(std::memory_order_acquire);
        return seen < done.size();
      });
  expect(seen <= done.size(), "alongside sees finished blocks");
}

void failures_from_blocks() {
  for (int round = 0; round < 20; ++round) {
    try {
      velk::pool::run_blocks(64, 2, [](std::size_t begin, std::size_t) {
        throw std::runtime_error("block " + std::to_string(begin));
      });
      expect(false, "a failing block is reported");
    } catch (const std::runtime_error& e) {
      expect(std::string(e.what()) == "block 0", "the lowest block's failure wins");
    }
  }
}

void interrupts() {
  velk::interrupt::install(check);
  for (int round = 0; round < 20; ++round) {
    polls_left.store(1);
    std::atomic<std::size_t> ran{0};
    try {
      velk::pool::run_blocks(1 << 20, 2, [&](std::size_t begin, std::size_t end) {
        for (std::size_t i = begin; i < end; ++i) {
          if (i % 256 == 0) velk::interrupt::checkpoint();
          if (i % 4096 == 0) usleep(10);
          ran.fetch_add(1, std::memory_order_relaxed);
        }
      });
    } catch (const std::runtime_error&) {
    }
    polls_left.store(-1);
    // The pool is usable after the stop.
    const auto again = velk::pool::parallel_map<std::size_t>(1000, [](std::size_t i) { return i; });
    expect(again.size() == 1000 && again[999] == 999, "the pool works after an interrupt");
  }
  velk::interrupt::install(nullptr);
}

void files_from_workers(const std::string& folder) {
  // Several workers replace the same files at once: each file ends whole, as one writer left it.
  for (int round = 0; round < 5; ++round) {
    velk::pool::parallel_for(16, [&](std::size_t i) {
      const std::string name = folder + "/f" + std::to_string(i % 4);
      auto file = velk::io::File::create(name);
      if (!file) return;
      const std::string text(4096, static_cast<char>('a' + i % 4));
      if (file->write_all(text)) (void)file->close();
    });
  }
  for (int k = 0; k < 4; ++k) {
    auto file = velk::io::File::open_read(folder + "/f" + std::to_string(k));
    char buffer[8192];
    auto n = file ? file->read_some(buffer, sizeof buffer) : velk::Result<std::size_t>{0};
    expect(n && *n == 4096 && buffer[0] == 'a' + k, "a file replaced from several workers");
  }
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) return 2;
  ordered_maps();
  nested_loops();
  alongside_the_caller();
  failures_from_blocks();
  interrupts();
  files_from_workers(argv[1]);
  if (failures == 0) std::printf("ok\n");
  return failures == 0 ? 0 : 1;
}
