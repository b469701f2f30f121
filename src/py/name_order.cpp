// The agreement of a name order with the declared names.
#include "py/name_order.hpp"

#include <algorithm>

namespace velk::py {

std::string order_disagreement(const std::string& what, const std::vector<std::string>& order,
                               const std::vector<std::string>& declared) {
  auto contains = [](const std::vector<std::string>& names, const std::string& name) {
    return std::find(names.begin(), names.end(), name) != names.end();
  };
  for (const std::string& name : order)
    if (!contains(declared, name))
      return "velk: '" + name + "' is in the " + what + " order but nothing declares it";
  for (const std::string& name : declared)
    if (!contains(order, name))
      return "velk: '" + name + "' is declared but missing from the " + what + " order";
  return "";
}

}  // namespace velk::py
