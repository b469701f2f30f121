// Progress of a long toolkit operation, told to the caller through a plain callback. Work runs
// on the pool; workers only count what they finished, and the thread that started the call is
// the only one that calls the callback (so a binding may take its interpreter lock there).
#pragma once

#include <atomic>
#include <chrono>
#include <cstddef>
#include <functional>

#include "core/interrupt.hpp"
#include "core/worker_pool.hpp"

namespace velk::toolkit {

// Called with (done, total) units of work: done increases from call to call and the last call
// has done == total. An exception thrown by it ends the operation and reaches its caller.
using ProgressCallback = std::function<void(std::size_t done, std::size_t total)>;

class ProgressMeter {
 public:
  // No callback (nullptr or empty) makes every member a no-op.
  ProgressMeter(const ProgressCallback* callback, std::size_t total);

  bool active() const { return callback_ != nullptr; }
  std::size_t total() const { return total_; }

  // Counts n more units as done; any thread.
  void advance(std::size_t n) {
    if (callback_) done_.fetch_add(n, std::memory_order_relaxed);
  }

  // Raises the count to at least `done` (never lowers it); any thread.
  void reach(std::size_t done);

  // On the calling thread: tells the callback the count when it grew and the last report is at
  // least a few milliseconds old (or everything is done). Does nothing on a worker.
  void report();

  // The pool's `alongside` step for this meter: waits a little, reports, and returns false once
  // every unit is done. Empty when the meter is inactive, so the pool runs as without it.
  std::function<bool()> alongside();

  // The final report (done == total), once, on the calling thread.
  void finish();

 private:
  const ProgressCallback* callback_;
  std::size_t total_;
  std::atomic<std::size_t> done_{0};
  std::size_t told_ = 0;
  bool told_any_ = false;
  std::chrono::steady_clock::time_point next_;
};

// A share [first, first + size) of a meter's units, given to one stage of a longer operation,
// which tells how far it is as a fraction of its share. Inactive (every member a no-op) without
// a meter or when the meter has no callback.
class ProgressSpan {
 public:
  ProgressSpan() = default;
  // The meter's whole total.
  explicit ProgressSpan(ProgressMeter& meter)
      : meter_(meter.active() ? &meter : nullptr), first_(0), size_(meter.total()) {}

  bool active() const { return meter_ != nullptr; }

  // The part [from, to) of this share, as fractions of it.
  ProgressSpan part(double from, double to) const;

  // On the calling thread: this stage is `fraction` done (clamped to [0, 1]); reports.
  void at(double fraction) const;

  // On any thread: one more of `blocks` equal blocks of this stage is done (block b adds its own
  // units, so the blocks add up to the share whatever their order); reports on the calling
  // thread.
  void block_done(std::size_t b, std::size_t blocks) const {
    if (!meter_) return;
    meter_->advance(size_ * (b + 1) / blocks - size_ * b / blocks);
    meter_->report();
  }

  // The pool's `alongside` step of the meter (empty when inactive).
  std::function<bool()> alongside() const {
    return meter_ ? meter_->alongside() : std::function<bool()>{};
  }

 private:
  ProgressSpan(ProgressMeter* meter, std::size_t first, std::size_t size)
      : meter_(meter), first_(first), size_(size) {}
  ProgressMeter* meter_ = nullptr;
  std::size_t first_ = 0, size_ = 0;
};

// body(first, last) over consecutive ranges of at most `per_block` of `count` units, on the pool,
// with an interrupt checkpoint before each range and the meter advanced after it; the meter's
// final report comes once every range is done. Ranges are independent of the thread count.
template <class Body>
void for_unit_blocks(std::size_t count, std::size_t per_block, ProgressMeter& meter, Body&& body) {
  const std::size_t blocks = (count + per_block - 1) / per_block;
  pool::run_blocks(
      blocks, 2,
      [&](std::size_t first_block, std::size_t end_block) {
        for (std::size_t b = first_block; b < end_block; ++b) {
          interrupt::checkpoint();
          const std::size_t first = b * per_block;
          const std::size_t last = first + per_block < count ? first + per_block : count;
          body(first, last);
          meter.advance(last - first);
          meter.report();
        }
      },
      meter.alongside());
  meter.finish();
}

}  // namespace velk::toolkit
