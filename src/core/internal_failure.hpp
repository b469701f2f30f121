// The internal failure: a broken caller invariant (chiefly an index out of range) ends the
// whole call. It is a C++ exception that only the binding layer catches.
#pragma once

#include <cstdint>
#include <source_location>
#include <string>
#include <vector>

namespace velk {

class InternalFailure {
 public:
  InternalFailure(std::string text, std::source_location where)
      : text_(std::move(text)), where_(where) {}
  const std::string& text() const { return text_; }
  const std::source_location& where() const { return where_; }

 private:
  std::string text_;
  std::source_location where_;
};

[[noreturn]] void internal_failure(std::string text,
                                   std::source_location where = std::source_location::current());

// "index out of bounds: the len is L but the index is I"
[[noreturn]] void index_out_of_bounds(uint64_t len, uint64_t index,
                                      std::source_location where = std::source_location::current());

// The one way to follow an index into a list: out of range ends the call with an internal
// failure naming the length and the index.
template <class T>
const T& checked_at(const std::vector<T>& list, uint64_t index,
                    std::source_location where = std::source_location::current()) {
  if (index >= list.size()) index_out_of_bounds(list.size(), index, where);
  return list[index];
}

template <class T>
T& checked_at(std::vector<T>& list, uint64_t index,
              std::source_location where = std::source_location::current()) {
  if (index >= list.size()) index_out_of_bounds(list.size(), index, where);
  return list[index];
}

}  // namespace velk
