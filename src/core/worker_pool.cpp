// The worker pool: a task queue, one mutex, two condition variables and a stop-free life (the
// pool lives until the process ends). Created on first use; a forked child rebuilds its own.
#include "core/worker_pool.hpp"

#include <pthread.h>
#include <sched.h>
#include <signal.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <deque>
#include <mutex>
#include <new>
#include <optional>
#include <system_error>
#include <thread>

#include "core/interrupt.hpp"

namespace velk::pool {

namespace {

// Parses a decimal integer (an optional '+' then digits); absent for junk, an empty text or a
// value that overflows.
std::optional<std::size_t> parse_count(const char* text) {
  if (!text) return std::nullopt;
  const char* p = text;
  if (*p == '+') ++p;
  if (!*p) return std::nullopt;
  std::size_t value = 0;
  for (; *p; ++p) {
    if (*p < '0' || *p > '9') return std::nullopt;
    std::size_t next = value * 10 + static_cast<std::size_t>(*p - '0');
    if (next / 10 != value) return std::nullopt;  // overflow
    value = next;
  }
  return value;
}

// The most threads the pool starts: more than a few per processor only costs memory, and a
// count in the thousands exhausts the address space.
constexpr std::size_t kMaxThreads = 256;
constexpr std::size_t kThreadsPerProcessor = 4;

std::size_t default_count() {
  cpu_set_t set;
  CPU_ZERO(&set);
  if (sched_getaffinity(0, sizeof set, &set) == 0) {
    int n = CPU_COUNT(&set);
    if (n > 0) return static_cast<std::size_t>(n);
  }
  unsigned n = std::thread::hardware_concurrency();
  return n ? n : 1;
}

class Pool {
 public:
  // Starts up to `threads` workers; when the system refuses a thread the pool keeps the ones it
  // has (at least the calling thread runs the work, see run_blocks). Workers are born with every
  // asynchronous signal blocked (they inherit the mask in force while they are created), so a
  // Ctrl-C always reaches a thread that can act on it, never a worker.
  explicit Pool(std::size_t threads) {
    sigset_t blocked, previous;
    sigfillset(&blocked);
    for (int sync : {SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGTRAP, SIGABRT}) sigdelset(&blocked, sync);
    pthread_sigmask(SIG_BLOCK, &blocked, &previous);
    try {
      for (; started_ < threads; ++started_) std::thread([this] { work(); }).detach();
    } catch (const std::system_error&) {
    }
    pthread_sigmask(SIG_SETMASK, &previous, nullptr);
  }
  std::size_t started() const { return started_; }
  void submit(std::function<void()> task) {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      queue_.push_back(std::move(task));
    }
    ready_.notify_one();
  }

 private:
  void work() {
    in_worker = true;
    for (;;) {
      std::function<void()> task;
      {
        std::unique_lock<std::mutex> lock(mutex_);
        ready_.wait(lock, [this] { return !queue_.empty(); });
        task = std::move(queue_.front());
        queue_.pop_front();
      }
      task();
    }
  }
  std::mutex mutex_;
  std::condition_variable ready_;
  std::deque<std::function<void()>> queue_;
  std::size_t started_ = 0;

 public:
  static thread_local bool in_worker;
};

thread_local bool Pool::in_worker = false;

// The pool of this process; a child after fork forgets its parent's (whose threads it lacks).
Pool* g_pool = nullptr;
std::size_t g_threads = 0;
std::once_flag g_atfork_once;

void forget_pool_in_child() {
  g_pool = nullptr;  // the parent's pool object is abandoned: its threads do not exist here
}

Pool& pool() {
  std::call_once(g_atfork_once, [] { pthread_atfork(nullptr, nullptr, forget_pool_in_child); });
  if (!g_pool) g_pool = new Pool(thread_count());
  return *g_pool;
}

}  // namespace

bool on_worker() {
  return Pool::in_worker;
}

std::size_t thread_count() {
  if (!g_threads) {
    // A number in RAYON_NUM_THREADS decides (0 meaning the default); RAYON_RS_NUM_CPUS is read
    // only when that variable is unset or not a number.
    std::optional<std::size_t> n = parse_count(std::getenv("RAYON_NUM_THREADS"));
    if (!n) n = parse_count(std::getenv("RAYON_RS_NUM_CPUS"));
    const std::size_t processors = default_count();
    g_threads =
        n && *n ? std::min({*n, kThreadsPerProcessor * processors, kMaxThreads}) : processors;
  }
  return g_threads;
}

void run_blocks(std::size_t n, std::size_t min_parallel,
                const std::function<void(std::size_t, std::size_t)>& block,
                const std::function<bool()>& alongside) {
  if (n == 0) return;
  std::size_t threads = thread_count();
  // Small ranges, a one-thread pool and loops nested inside a task run serially; one block
  // goes to the pool only when the calling thread has work of its own alongside it.
  if (threads <= 1 || n < min_parallel || (n < 2 && !alongside) || on_worker()) {
    block(0, n);
    return;
  }
  Pool& workers = pool();
  if (workers.started() == 0) {
    block(0, n);
    return;
  }
  // Blocks follow the configured count so that work splits the same way whatever the system
  // granted; the blocks are independent, so fewer workers only run them in turn.
  std::size_t blocks = threads < n ? threads : n;
  std::vector<std::exception_ptr> failures(blocks);
  std::mutex done_mutex;
  std::condition_variable done;
  std::size_t remaining = blocks;
  // Blocks split the remainder evenly: the first n % blocks get one index more.
  std::size_t base = n / blocks, extra = n % blocks, begin = 0, submitted = 0;
  std::exception_ptr submit_failure;
  try {
    for (std::size_t b = 0; b < blocks; ++b) {
      std::size_t end = begin + base + (b < extra ? 1 : 0);
      workers.submit([&, b, begin, end] {
        try {
          block(begin, end);
        } catch (...) {
          failures[b] = std::current_exception();
        }
        std::lock_guard<std::mutex> lock(done_mutex);
        if (--remaining == 0) done.notify_one();
      });
      ++submitted;
      begin = end;
    }
  } catch (...) {
    // Out of memory while queueing: wait for the blocks already queued, then fail.
    submit_failure = std::current_exception();
  }
  // While the workers run, the calling thread runs alongside and polls the interrupt check
  // every 20 ms; when either throws, the workers skip their remaining blocks (at their next
  // checkpoint) and that exception ends the loop once every block has returned.
  std::exception_ptr interrupted;
  interrupt::set_stopping(false);
  {
    // Runs step without the lock; its exception is kept and stops the remaining blocks.
    const auto run_or_stop = [&](std::unique_lock<std::mutex>& lock, auto&& step) {
      lock.unlock();
      try {
        step();
      } catch (...) {
        interrupted = std::current_exception();
        interrupt::set_stopping(true);
      }
      lock.lock();
    };
    std::unique_lock<std::mutex> lock(done_mutex);
    remaining -= blocks - submitted;
    bool beside = static_cast<bool>(alongside);
    auto next_poll = std::chrono::steady_clock::now() + std::chrono::milliseconds(20);
    while (remaining != 0) {
      if (beside && !interrupted) {
        run_or_stop(lock, [&] { beside = alongside(); });
        if (beside && std::chrono::steady_clock::now() < next_poll) continue;
      } else if (done.wait_until(lock, next_poll, [&] { return remaining == 0; })) {
        break;
      }
      if (!interrupted) run_or_stop(lock, [] { interrupt::poll(); });
      next_poll = std::chrono::steady_clock::now() + std::chrono::milliseconds(20);
    }
  }
  interrupt::set_stopping(false);
  if (interrupted) std::rethrow_exception(interrupted);
  if (submit_failure) std::rethrow_exception(submit_failure);
  for (auto& f : failures)
    if (f) std::rethrow_exception(f);
}

}  // namespace velk::pool
