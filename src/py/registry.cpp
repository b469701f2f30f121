// Storage of registered module entries and class methods.
#include "py/registry.hpp"

#include <cstring>
#include <map>
#include <string>

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

const ModuleEntry* find_entry(const char* name) {
  auto it = entries().find(name);
  return it == entries().end() ? nullptr : &it->second;
}

std::vector<PyMethodDef> method_table(const char* class_name,
                                      std::initializer_list<PyMethodDef*> own,
                                      std::initializer_list<const char*> order) {
  std::map<std::string, PyMethodDef*> all = methods()[class_name];
  for (PyMethodDef* def : own) all[def->ml_name] = def;
  std::vector<PyMethodDef> table;
  for (const char* name : order) {
    auto it = all.find(name);
    if (it != all.end()) table.push_back(*it->second);
  }
  table.push_back({nullptr, nullptr, 0, nullptr});
  return table;
}

}  // namespace velk::py
