// The progress meter: counts on any thread, reports on the calling thread at most every 50 ms.
#include "morph_toolkit/progress.hpp"

#include <algorithm>
#include <cmath>
#include <thread>

#include "core/worker_pool.hpp"

namespace velk::toolkit {

namespace {
constexpr auto kReportEvery = std::chrono::milliseconds(50);
constexpr auto kAlongsideWait = std::chrono::milliseconds(5);
}  // namespace

ProgressMeter::ProgressMeter(const ProgressCallback* callback, std::size_t total)
    : callback_(callback && *callback ? callback : nullptr), total_(total) {}

void ProgressMeter::reach(std::size_t done) {
  if (!callback_) return;
  std::size_t now = done_.load(std::memory_order_relaxed);
  while (now < done && !done_.compare_exchange_weak(now, done, std::memory_order_relaxed)) {
  }
}

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

ProgressSpan ProgressSpan::part(double from, double to) const {
  const auto at = [this](double f) {
    return static_cast<std::size_t>(std::floor(std::clamp(f, 0.0, 1.0) * size_));
  };
  return {meter_, first_ + at(from), at(to) - at(from)};
}

void ProgressSpan::at(double fraction) const {
  if (!meter_) return;
  const double f = std::isnan(fraction) ? 0.0 : std::clamp(fraction, 0.0, 1.0);
  meter_->reach(first_ + static_cast<std::size_t>(std::floor(f * size_)));
  meter_->report();
}

}  // namespace velk::toolkit
