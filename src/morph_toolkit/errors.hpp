// The failures of the morphing toolkit's operations. The toolkit's binding turns InvalidInput
// into ValueError and MemoryRefusal into MemoryError, each with its text; both are thrown
// before any result is produced, so a failed call leaves nothing half-done.
#pragma once

#include <stdexcept>
#include <string>

namespace velk::toolkit {

// Input that the operation cannot take: a wrong shape, a non-finite number, an index out of
// range, a degenerate set of control points. The text names the argument.
struct InvalidInput : std::runtime_error {
  using std::runtime_error::runtime_error;
};

// A request that would not fit in memory, refused before anything is allocated. The text names
// the size and what to do instead.
struct MemoryRefusal : std::runtime_error {
  using std::runtime_error::runtime_error;
};

}  // namespace velk::toolkit
