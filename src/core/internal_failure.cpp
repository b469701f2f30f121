// Raising internal failures.
#include "core/internal_failure.hpp"

namespace velk {

void internal_failure(std::string text, std::source_location where) {
  throw InternalFailure(std::move(text), where);
}

void index_out_of_bounds(uint64_t len, uint64_t index, std::source_location where) {
  throw InternalFailure("index out of bounds: the len is " + std::to_string(len) +
                            " but the index is " + std::to_string(index),
                        where);
}

}  // namespace velk
