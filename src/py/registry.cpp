// Storage of registered module entries and class methods, and their checks against the orders.
#include "py/registry.hpp"

#include <map>

#include "py/error_route.hpp"
#include "py/name_order.hpp"

namespace velk::py {

namespace {

std::map<std::string, ModuleEntry>& entries() {
  static std::map<std::string, ModuleEntry> table;
  return table;
}

std::map<std::string, std::map<std::string, PyMethodDef*>>& methods() {
  static std::map<std::string, std::map<std::string, PyMethodDef*>> table;
  return table;
}

template <class Map>
void require_agreement(const std::string& what, std::span<const char* const> order,
                       const Map& declared) {
  std::vector<std::string> names;
  for (const auto& [name, value] : declared) names.push_back(name);
  const std::string disagreement =
      order_disagreement(what, std::vector<std::string>(order.begin(), order.end()), names);
  if (!disagreement.empty()) raise(PyExc_ImportError, disagreement);
}

}  // namespace

void register_function(PyMethodDef* def) {
  entries()[def->ml_name].function = def;
}

void register_class(const char* name, PyTypeObject* (*type)()) {
  entries()[name].type = type;
}

void register_method(const char* class_name, PyMethodDef* def) {
  methods()[class_name][def->ml_name] = def;
}

std::vector<const ModuleEntry*> module_entries(std::span<const char* const> order) {
  require_agreement("module name", order, entries());
  std::vector<const ModuleEntry*> out;
  for (const char* name : order) out.push_back(&entries().at(name));
  return out;
}

std::vector<PyMethodDef> method_table(const char* class_name,
                                      std::initializer_list<const char*> order) {
  const std::map<std::string, PyMethodDef*>& own = methods()[class_name];
  require_agreement(std::string(class_name) + " method", {order.begin(), order.size()}, own);
  std::vector<PyMethodDef> table;
  for (const char* name : order) table.push_back(*own.at(name));
  table.push_back({nullptr, nullptr, 0, nullptr});
  return table;
}

}  // namespace velk::py
