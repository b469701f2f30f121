// The arena allocator wrapper behind ArenaPrefault: it allocates and frees through the allocator
// it found, and only asks the kernel to populate each new arena at once (Linux; elsewhere, and on
// kernels that refuse the request, arenas are paged in on demand as usual).
#include "py/python.hpp"

#include "py/arena_prefault.hpp"

#include "core/pages.hpp"

namespace velk::py {
namespace {

// The allocator found when the outermost guard began. It stays valid after the guard ends:
// arenas taken through the wrapper are released through it, and a thread of another interpreter
// may still be reading the wrapper's address while the original is put back.
PyObjectArenaAllocator wrapped;
int depth = 0;  // guards alive; only touched with the GIL held

void* prefaulted_alloc(void*, std::size_t size) {
  void* arena = wrapped.alloc(wrapped.ctx, size);
  // No interrupt check may run inside the allocator.
  if (arena != nullptr) pages::populate(arena, size, false);
  return arena;
}

void forwarded_free(void*, void* arena, std::size_t size) {
  wrapped.free(wrapped.ctx, arena, size);
}

}  // namespace

ArenaPrefault::ArenaPrefault() {
  if (depth++ > 0) return;
  PyObject_GetArenaAllocator(&wrapped);
  PyObjectArenaAllocator prefaulting{nullptr, prefaulted_alloc, forwarded_free};
  PyObject_SetArenaAllocator(&prefaulting);
}

ArenaPrefault::~ArenaPrefault() {
  if (--depth > 0) return;
  PyObject_SetArenaAllocator(&wrapped);
}

}  // namespace velk::py
