// Interruptible long calls. The caller of a core operation (the binding layer) installs a check
// that runs on the thread which started the call and throws to end it (for a pending Ctrl-C);
// long loops call checkpoint() between blocks of work, and parallel loops poll the check while
// their workers run. The core knows nothing of what the check looks at.
#pragma once

namespace velk::interrupt {

// The installed check: returns normally to go on, throws to end the call. Runs only on the
// thread that started the call, never on a worker of the pool.
using Check = void (*)();
void install(Check check);

// Between blocks of work: on the calling thread, runs the check (which may throw); on a worker
// of the pool, throws Stopped when the calling thread's check has ended the current parallel
// loop, so the remaining blocks are skipped.
void checkpoint();

// Runs the check on the calling thread; does nothing on a worker.
void poll();

// Thrown on workers by checkpoint() once a parallel loop is stopping; never reaches a caller.
struct Stopped {};

// Marks the current parallel loop as stopping (set by the pool when the check threw) or clears
// the mark at the start of a loop.
void set_stopping(bool stopping);

}  // namespace velk::interrupt
