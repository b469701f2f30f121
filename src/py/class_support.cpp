// Heap-type creation shared by the module's classes.
#include "py/class_support.hpp"

#include <cstring>
#include <vector>

namespace velk::py {

PyTypeObject* create_type(const char* name, int basic_size, destructor dealloc,
                          const char* internal_doc, std::span<const PyType_Slot> slots) {
  std::vector<PyType_Slot> all(slots.begin(), slots.end());
  all.push_back({Py_tp_dealloc, reinterpret_cast<void*>(dealloc)});
  all.push_back({Py_tp_doc, const_cast<char*>(internal_doc)});
  all.push_back({0, nullptr});
  PyType_Spec spec = {name, basic_size, 0, Py_TPFLAGS_DEFAULT | Py_TPFLAGS_BASETYPE, all.data()};
  // The spec is named "builtins.Name" so that the interpreter sets __module__ without a
  // deprecation warning; messages then use the bare name.
  Ref type = Ref::steal(PyType_FromSpec(&spec));
  auto* tp = reinterpret_cast<PyTypeObject*>(type.get());
  const char* dot = std::strrchr(name, '.');
  if (dot) tp->tp_name = dot + 1;
  // The interpreter keeps only the docstring part; keep the whole internal doc so that the
  // text signature can be read from it.
  std::size_t len = std::strlen(internal_doc);
  char* full = static_cast<char*>(PyObject_Malloc(len + 1));
  if (!full) {
    PyErr_NoMemory();
    throw PyErrorSet{};
  }
  std::memcpy(full, internal_doc, len + 1);
  PyObject_Free(const_cast<char*>(tp->tp_doc));
  tp->tp_doc = full;
  const char* body = std::strstr(internal_doc, "\n--\n\n");
  body = body ? body + 5 : internal_doc;
  Ref doc = *body ? Ref::steal(PyUnicode_FromString(body)) : Ref::add(Py_None);
  check(PyDict_SetItemString(tp->tp_dict, "__doc__", doc.get()));
  PyType_Modified(tp);
  return reinterpret_cast<PyTypeObject*>(type.release());
}

void refuse_delete() {
  raise(PyExc_AttributeError, "can't delete attribute");
}

}  // namespace velk::py
