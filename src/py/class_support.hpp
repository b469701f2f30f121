// What every class of the module shares: the instance block (object header, owned core value,
// borrow flag), shared and exclusive access guards, the receiver check, instance creation and
// release, the instance-of-a-class converter, and creation of heap types from specs.
#pragma once

#include "py/python.hpp"

#include <initializer_list>
#include <span>

#include "py/arguments.hpp"
#include "py/error_route.hpp"
#include "py/ref.hpp"

namespace velk::py {

template <class T>
struct Instance {
  PyObject_HEAD T* value;  // owned; null only before construction finished
  Py_ssize_t borrow;       // 0 free, >0 shared accesses, -1 one exclusive access
};

// A shared (read) access for the duration of a call.
template <class T>
class Shared {
 public:
  explicit Shared(Instance<T>* inst) : inst_(inst) {
    if (inst_->borrow == -1) raise(PyExc_RuntimeError, "Already mutably borrowed");
    ++inst_->borrow;
  }
  ~Shared() { --inst_->borrow; }
  Shared(const Shared&) = delete;
  Shared& operator=(const Shared&) = delete;
  const T& operator*() const { return *inst_->value; }
  const T* operator->() const { return inst_->value; }

 private:
  Instance<T>* inst_;
};

// The exclusive (write) access of a property setter.
template <class T>
class Exclusive {
 public:
  explicit Exclusive(Instance<T>* inst) : inst_(inst) {
    if (inst_->borrow != 0) raise(PyExc_RuntimeError, "Already borrowed");
    inst_->borrow = -1;
  }
  ~Exclusive() { inst_->borrow = 0; }
  Exclusive(const Exclusive&) = delete;
  Exclusive& operator=(const Exclusive&) = delete;
  T& operator*() const { return *inst_->value; }
  T* operator->() const { return inst_->value; }

 private:
  Instance<T>* inst_;
};

// The receiver check: self must be an instance of the class (or a subclass).
template <class T>
Instance<T>* receiver(PyObject* self, PyTypeObject* type, const char* class_name) {
  if (!self || !PyObject_TypeCheck(self, type)) raise_downcast(self ? self : Py_None, class_name);
  return reinterpret_cast<Instance<T>*>(self);
}

// A new instance of type owning value. Returns a strong reference.
template <class T>
Ref new_instance(PyTypeObject* type, T value) {
  Ref obj = Ref::steal(type->tp_alloc(type, 0));
  auto* inst = reinterpret_cast<Instance<T>*>(obj.get());
  inst->value = new T(std::move(value));
  inst->borrow = 0;
  return obj;
}

// tp_dealloc of every class: frees the core value, the instance, then releases the type.
template <class T>
void dealloc_instance(PyObject* self) {
  auto* inst = reinterpret_cast<Instance<T>*>(self);
  delete inst->value;
  inst->value = nullptr;
  PyTypeObject* type = Py_TYPE(self);
  type->tp_free(self);
  Py_DECREF(type);
}

// The instance-of-a-class conversion: a copy of the wrapped core value.
template <class T>
T copy_instance(PyObject* obj, PyTypeObject* type, const char* class_name) {
  if (!PyObject_TypeCheck(obj, type)) raise_downcast(obj, class_name);
  auto* inst = reinterpret_cast<Instance<T>*>(obj);
  Shared<T> access(inst);
  return *access;
}

// Creates a class's heap type: `name` is "builtins.<Name>" (a literal: the type keeps it),
// internal_doc is "Name(signature)\n--\n\n" + docstring, from which __text_signature__ and
// __doc__ are read (an empty docstring reads as None); `slots` are the class's own (methods,
// properties, constructor, ...), to which the instance release and the doc are added. Arrays
// the slots point to must outlive the type. Returns a new reference or throws PyErrorSet.
PyTypeObject* create_type(const char* name, int basic_size, destructor dealloc,
                          const char* internal_doc, std::span<const PyType_Slot> slots);

template <class T>
PyTypeObject* create_class(const char* name, const char* internal_doc,
                           std::span<const PyType_Slot> slots) {
  return create_type(name, static_cast<int>(sizeof(Instance<T>)), dealloc_instance<T>, internal_doc,
                     slots);
}

// AttributeError "can't delete attribute" for a property setter called with null.
[[noreturn]] void refuse_delete();

}  // namespace velk::py
