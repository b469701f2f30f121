// ArenaPrefault: while a large result is built, each new arena the interpreter's small-object
// allocator takes is faulted in by one system call instead of one page fault per 4 KiB page.
// A million-node result fills some 150 arenas; demand paging them costs a third of the build.
#pragma once

namespace velk::py {

class ArenaPrefault {
 public:
  // Wraps the interpreter's arena allocator; a guard inside another guard changes nothing.
  // Must be made and destroyed with the GIL held, in nesting order.
  ArenaPrefault();
  // Puts the wrapped allocator back once the outermost guard ends.
  ~ArenaPrefault();
  ArenaPrefault(const ArenaPrefault&) = delete;
  ArenaPrefault& operator=(const ArenaPrefault&) = delete;
};

}  // namespace velk::py
