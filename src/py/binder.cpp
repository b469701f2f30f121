// The binding TypeError texts, implemented once for every function, method and constructor.
#include "py/binder.hpp"

#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "py/error_route.hpp"

namespace velk::py {

std::string Callee::text() const {
  std::string text = owner ? std::string(owner) + "." + name : std::string(name);
  return text + "()";
}

std::string Callee::asked_for() const {
  if (owner && std::string_view(name) == "__new__") return std::string(owner) + "()";
  if (!property) return text();
  return owner ? std::string(owner) + "." + name : std::string(name);
}

namespace {

[[noreturn]] void too_many_positional(Callee callee, std::size_t count, std::size_t required,
                                      std::size_t given) {
  std::string text = callee.text();
  if (required == count)
    text += " takes " + std::to_string(count);
  else
    text += " takes from " + std::to_string(required) + " to " + std::to_string(count);
  text += " positional arguments but " + std::to_string(given) + (given == 1 ? " was" : " were") +
          " given";
  raise(PyExc_TypeError, text);
}

[[noreturn]] void missing_required(Callee callee, const std::vector<const char*>& missing) {
  std::string text = callee.text() + " missing " + std::to_string(missing.size()) +
                     " required positional argument" + (missing.size() > 1 ? "s" : "") + ": ";
  for (std::size_t i = 0; i < missing.size(); ++i) {
    if (i > 0) {
      if (missing.size() == 2)
        text += " and ";
      else if (i + 1 == missing.size())
        text += ", and ";
      else
        text += ", ";
    }
    text += '\'';
    text += missing[i];
    text += '\'';
  }
  raise(PyExc_TypeError, text);
}

// Places one keyword argument into its slot.
void bind_keyword(Callee callee, const char* const* names, std::size_t count,
                  std::size_t positional, PyObject* key, PyObject* value, PyObject** slots,
                  std::vector<bool>& filled) {
  Py_ssize_t len = 0;
  const char* name = PyUnicode_Check(key) ? PyUnicode_AsUTF8AndSize(key, &len) : nullptr;
  if (!name) {
    PyErr_Clear();
    raise(PyExc_TypeError, callee.text() + " keywords must be strings");
  }
  for (std::size_t i = 0; i < count; ++i) {
    if (std::strlen(names[i]) == static_cast<std::size_t>(len) &&
        std::strcmp(names[i], name) == 0) {
      if (i < positional || filled[i])
        raise(PyExc_TypeError,
              callee.text() + " got multiple values for argument '" + names[i] + "'");
      slots[i] = value;
      filled[i] = true;
      return;
    }
  }
  raise(PyExc_TypeError,
        callee.text() + " got an unexpected keyword argument '" + std::string(name, len) + "'");
}

// Checks required parameters and turns None in optional ones into "omitted".
void finish(Callee callee, const char* const* names, std::size_t count, std::size_t required,
            PyObject** slots, const std::vector<bool>& filled) {
  std::vector<const char*> missing;
  for (std::size_t i = 0; i < required; ++i)
    if (!filled[i]) missing.push_back(names[i]);
  if (!missing.empty()) missing_required(callee, missing);
  for (std::size_t i = required; i < count; ++i)
    if (slots[i] == Py_None) slots[i] = nullptr;
}

}  // namespace

void bind_fast(Callee callee, const char* const* names, std::size_t count, std::size_t required,
               PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames, PyObject** slots) {
  std::size_t positional = static_cast<std::size_t>(PyVectorcall_NARGS(nargs));
  if (positional > count) too_many_positional(callee, count, required, positional);
  std::vector<bool> filled(count, false);
  for (std::size_t i = 0; i < positional; ++i) {
    slots[i] = args[i];
    filled[i] = true;
  }
  if (kwnames) {
    Py_ssize_t nkw = PyTuple_GET_SIZE(kwnames);
    for (Py_ssize_t k = 0; k < nkw; ++k)
      bind_keyword(callee, names, count, positional, PyTuple_GET_ITEM(kwnames, k),
                   args[positional + k], slots, filled);
  }
  finish(callee, names, count, required, slots, filled);
}

void bind_tuple(Callee callee, const char* const* names, std::size_t count, std::size_t required,
                PyObject* args, PyObject* kwargs, PyObject** slots) {
  std::size_t positional = static_cast<std::size_t>(PyTuple_GET_SIZE(args));
  if (positional > count) too_many_positional(callee, count, required, positional);
  std::vector<bool> filled(count, false);
  for (std::size_t i = 0; i < positional; ++i) {
    slots[i] = PyTuple_GET_ITEM(args, i);
    filled[i] = true;
  }
  if (kwargs) {
    PyObject *key, *value;
    Py_ssize_t pos = 0;
    while (PyDict_Next(kwargs, &pos, &key, &value))
      bind_keyword(callee, names, count, positional, key, value, slots, filled);
  }
  finish(callee, names, count, required, slots, filled);
}

}  // namespace velk::py
