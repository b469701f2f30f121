// The installed interrupt check and the stop mark that parallel loops share.
#include "core/interrupt.hpp"

#include <atomic>

namespace velk::interrupt {

namespace {

std::atomic<Check> g_check{nullptr};
std::atomic<bool> g_stopping{false};
thread_local bool t_worker = false;

}  // namespace

void install(Check check) {
  g_check.store(check);
}

void poll() {
  if (t_worker) return;
  if (Check check = g_check.load(std::memory_order_relaxed)) check();
}

void checkpoint() {
  if (t_worker) {
    if (g_stopping.load(std::memory_order_relaxed)) throw Stopped{};
    return;
  }
  poll();
}

void set_stopping(bool stopping) {
  g_stopping.store(stopping);
}

bool on_worker() {
  return t_worker;
}

void mark_worker() {
  t_worker = true;
}

}  // namespace velk::interrupt
