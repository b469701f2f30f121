// Registration of what the module exposes. Each binding file registers its functions, classes
// and class methods by name through static objects (a Binding per function or method, a
// ClassRegistrar per class); the module walks one fixed order of names (module.cpp) and each
// class one order of methods, and initialisation fails with ImportError when an order and the
// declarations disagree.
#pragma once

#include "py/python.hpp"

#include <initializer_list>
#include <span>
#include <string>
#include <vector>

namespace velk::py {

struct ModuleEntry {
  PyMethodDef* function = nullptr;    // a module function, or
  PyTypeObject* (*type)() = nullptr;  // a class: returns its (lazily created) type, borrowed
};

void register_function(PyMethodDef* def);
void register_class(const char* name, PyTypeObject* (*type)());
// A method of a class, from the class's own file or another (for example Mesh's file methods).
void register_method(const char* class_name, PyMethodDef* def);

// The registered entry of a module name; ImportError unless every name of `order` is
// registered and every registered name is in `order`.
std::vector<const ModuleEntry*> module_entries(std::span<const char* const> order);

// The method table of a class, its registered methods in the given order of names, ending in
// the null entry; ImportError unless the order and the registered methods agree.
std::vector<PyMethodDef> method_table(const char* class_name,
                                      std::initializer_list<const char*> order);

struct ClassRegistrar {
  ClassRegistrar(const char* name, PyTypeObject* (*type)()) { register_class(name, type); }
};

}  // namespace velk::py
