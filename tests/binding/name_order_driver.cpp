// Runs the name-order check on the command line: name_order_driver WHAT ORDER DECLARED, each list
// comma-separated (empty for none); prints the disagreement text, empty when they agree.
#include <cstdio>
#include <sstream>
#include <string>
#include <vector>

#include "py/name_order.hpp"

namespace {

std::vector<std::string> split(const std::string& list) {
  std::vector<std::string> names;
  std::stringstream in(list);
  for (std::string name; std::getline(in, name, ',');) names.push_back(name);
  return names;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 4) return 2;
  const std::string text = velk::py::order_disagreement(argv[1], split(argv[2]), split(argv[3]));
  std::fputs(text.c_str(), stdout);
  return 0;
}
