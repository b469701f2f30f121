// The installed interrupt check and the stop mark that parallel loops share.
#include "core/interrupt.hpp"

#include <atomic>

#include "core/worker_pool.hpp"

namespace velk::interrupt {

namespace {

std::atomic<Check> g_check{nullptr};
std::atomic<bool> g_stopping{false};

}  // namespace

void install(Check check) {
  g_check.store(check);
}

void poll() {
  if (pool::on_worker()) return;
  if (Check check = g_check.load(std::memory_order_relaxed)) check();
}

void checkpoint() {
  if (pool::on_worker()) {
    if (g_stopping.load(std::memory_order_relaxed)) throw Stopped{};
    return;
  }
  poll();
}

void set_stopping(bool stopping) {
  g_stopping.store(stopping);
}

}  // namespace velk::interrupt
