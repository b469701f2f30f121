// The check that a fixed order of names and the names declared agree: the module's name order
// against its declared functions and classes, and each class's method order against the methods
// declared for it. Plain C++, so that it is tested on its own.
#pragma once

#include <string>
#include <vector>

namespace velk::py {

// Empty when every name of `order` is declared and every declared name is in `order`; else the
// text of the first disagreement (names of `order` first, in order; then declared names, in
// order), naming the entry. `what` says whose order it is ("module name", "Mesh method").
std::string order_disagreement(const std::string& what, const std::vector<std::string>& order,
                               const std::vector<std::string>& declared);

}  // namespace velk::py
