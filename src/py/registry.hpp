// Registration of what the module exposes. Each binding file registers its functions, classes
// and extra class methods by name through static registrars; the module walks one fixed table of
// names (module.cpp), so the order is the table's whatever files exist.
#pragma once

#include "py/python.hpp"

#include <initializer_list>
#include <vector>

namespace velk::py {

struct ModuleEntry {
  PyMethodDef* function = nullptr;    // a module function, or
  PyTypeObject* (*type)() = nullptr;  // a class: returns its (lazily created) type, borrowed
};

void register_function(PyMethodDef* def);
void register_class(const char* name, PyTypeObject* (*type)());
// A method of a class defined in another binding file (for example Mesh's file methods).
void register_method(const char* class_name, PyMethodDef* def);

// The registered entry of a module name, or null.
const ModuleEntry* find_entry(const char* name);

// The method table of a class: its own methods and those registered for it, arranged in the
// given order of names (names without a definition are left out), ending in the null entry.
std::vector<PyMethodDef> method_table(const char* class_name,
                                      std::initializer_list<PyMethodDef*> own,
                                      std::initializer_list<const char*> order);

struct FunctionRegistrar {
  explicit FunctionRegistrar(PyMethodDef* def) { register_function(def); }
};
struct ClassRegistrar {
  ClassRegistrar(const char* name, PyTypeObject* (*type)()) { register_class(name, type); }
};
struct MethodRegistrar {
  MethodRegistrar(const char* class_name, PyMethodDef* def) { register_method(class_name, def); }
};

}  // namespace velk::py
