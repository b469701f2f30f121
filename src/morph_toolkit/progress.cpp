// The progress meter: counts on any thread, reports on the calling thread at most every 50 ms.
#include "morph_toolkit/progress.hpp"

#include <thread>

#include "core/worker_pool.hpp"

namespace velk::toolkit {

namespace {
constexpr auto kReportEvery = std::chrono::milliseconds(50);
constexpr auto kAlongsideWait = std::chrono::milliseconds(5);
}  // namespace

ProgressMeter::ProgressMeter(const ProgressCallback* callback, std::size_t total)
    : callback_(callback && *callback ? callback : nullptr), total_(total) {}

void ProgressMeter::report() {
  if (!callback_ || pool::on_worker()) return;
  const std::size_t done = done_.load(std::memory_order_relaxed);
  const auto now = std::chrono::steady_clock::now();
  if (told_any_ && (done == told_ || (done < total_ && now < next_))) return;
  told_ = done;
  told_any_ = true;
  next_ = now + kReportEvery;
  (*callback_)(done, total_);
}

std::function<bool()> ProgressMeter::alongside() {
  if (!callback_) return {};
  return [this] {
    std::this_thread::sleep_for(kAlongsideWait);
    report();
    return done_.load(std::memory_order_relaxed) < total_;
  };
}

void ProgressMeter::finish() {
  if (!callback_ || (told_any_ && told_ == total_)) return;
  done_.store(total_, std::memory_order_relaxed);
  told_any_ = false;
  report();
}

}  // namespace velk::toolkit
