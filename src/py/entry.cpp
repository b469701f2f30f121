// Text signatures, the registration of entry points, and the names of property calls.
#include "py/entry.hpp"

#include <cstring>

#include "py/registry.hpp"

namespace velk::py {

std::string text_signature(const char* name, const char* self, const char* const* names,
                           std::size_t count, std::size_t required, const char* doc) {
  std::string text = std::string(name) + "(";
  if (self) text += self;
  for (std::size_t i = 0; i < count; ++i) {
    if (i > 0 || self) text += ", ";
    text += names[i];
    if (i >= required) text += "=None";
  }
  return text + ")\n--\n\n" + doc;
}

Binding::Binding(const char* owner, std::string doc, PyMethodDef def)
    : doc_(std::move(doc)), def_(def) {
  def_.ml_doc = doc_.c_str();
  if (owner)
    register_method(owner, &def_);
  else
    register_function(&def_);
}

Callee property_of(PyObject* self, void* closure) {
  // A heap type's tp_name is "module.Class"; the class name is what the user knows.
  const char* type_name = Py_TYPE(self)->tp_name;
  const char* dot = std::strrchr(type_name, '.');
  return {dot ? dot + 1 : type_name, static_cast<const char*>(closure), true};
}

}  // namespace velk::py
