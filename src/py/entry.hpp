// One declaration per entry point. An Entry states the Python name (with the class of a method
// or constructor), the parameter names and how many are required, one converter per parameter
// and the docstring; the argument binding, the text signature, the PyMethodDef and the
// registration are all derived from it, and function_binding / method_binding generate the entry
// point around a body that takes the converted arguments:
//   constexpr auto translate_nodes_entry = function("translate_nodes", {"nodes", "translation"},
//                                                   2, "Translate nodes", to_node_list, to_point3);
//   const Binding translate_nodes_binding = function_binding<translate_nodes_entry>(
//       [](auto nodes, auto translation) { ... return py_node_list(nodes); });
// A body that needs another order writes its entry point by hand with entry.bind(...) and
// entry.convert(slots) (or entry.parse(...)) and registers it with Binding{entry, impl}.
#pragma once

#include "py/python.hpp"

#include <array>
#include <cstddef>
#include <string>
#include <string_view>
#include <tuple>
#include <utility>
#include <vector>

#include "py/arguments.hpp"
#include "py/binder.hpp"
#include "py/class_support.hpp"
#include "py/registry.hpp"

namespace velk::py {

template <std::size_t N, class... Converters>
struct Entry {
  static_assert(sizeof...(Converters) == 0 || sizeof...(Converters) == N,
                "one converter per parameter, or none when the body converts");
  const char* owner;  // the class of a method or constructor; nullptr for a module function
  const char* name;   // the Python name; "__new__" for a constructor
  std::array<const char*, N> names;
  std::size_t required;  // the first `required` names are required, the rest default to None
  const char* doc;       // the docstring after the text signature ("" for none)
  int flags;             // METH_CLASS for a class method, else 0
  std::tuple<Converters...> converters;

  Callee callee() const { return {owner, name}; }

  // The bound arguments of a fast call with keywords, or of a constructor's tuple and dict.
  std::array<PyObject*, N> bind(PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) const {
    std::array<PyObject*, N> slots{};
    bind_fast(callee(), names.data(), N, required, args, nargs, kwnames, slots.data());
    return slots;
  }
  std::array<PyObject*, N> bind(PyObject* args, PyObject* kwargs) const {
    std::array<PyObject*, N> slots{};
    bind_tuple(callee(), names.data(), N, required, args, kwargs, slots.data());
    return slots;
  }

  // Converts bound arguments in signature order (the braced initialiser evaluates left to
  // right), each named by the argument-prefix route on failure; a tuple for a structured
  // binding.
  auto convert(const std::array<PyObject*, N>& slots) const {
    return [&]<std::size_t... I>(std::index_sequence<I...>) {
      return std::tuple<decltype(std::get<I>(converters)(slots[I]))...>{
          arg(names[I], slots[I], std::get<I>(converters))...};
    }(std::index_sequence_for<Converters...>{});
  }

  auto parse(PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) const {
    return convert(bind(args, nargs, kwnames));
  }
  auto parse(PyObject* args, PyObject* kwargs) const { return convert(bind(args, kwargs)); }
};

// A module function.
template <std::size_t N, class... C>
constexpr Entry<N, C...> function(const char* name, const char* const (&names)[N],
                                  std::size_t required, const char* doc, C... converters) {
  return {nullptr, name, std::to_array(names), required, doc, 0, {converters...}};
}

// A method of class `owner`; a class method with METH_CLASS in flags.
template <std::size_t N, class... C>
constexpr Entry<N, C...> method(const char* owner, const char* name, const char* const (&names)[N],
                                std::size_t required, const char* doc, C... converters) {
  return {owner, name, std::to_array(names), required, doc, 0, {converters...}};
}
template <std::size_t N, class... C>
constexpr Entry<N, C...> class_method(const char* owner, const char* name,
                                      const char* const (&names)[N], std::size_t required,
                                      const char* doc, C... converters) {
  return {owner, name, std::to_array(names), required, doc, METH_CLASS, {converters...}};
}
// A method without parameters.
constexpr Entry<0> method(const char* owner, const char* name, const char* doc) {
  return {owner, name, {}, 0, doc, 0, {}};
}

// The constructor of class `owner`; its text signature is the class's docstring.
template <std::size_t N, class... C>
constexpr Entry<N, C...> constructor(const char* owner, const char* const (&names)[N],
                                     std::size_t required, const char* doc, C... converters) {
  return {owner, "__new__", std::to_array(names), required, doc, 0, {converters...}};
}

// "name(a, b, c=None)\n--\n\ndoc": the text signature the interpreter reads from a docstring,
// self written as `self` ("$self", "$cls") when given.
std::string text_signature(const char* name, const char* self, const char* const* names,
                           std::size_t count, std::size_t required, const char* doc);

template <std::size_t N, class... C>
std::string text_signature(const Entry<N, C...>& e) {
  const bool constructor = e.owner && std::string_view(e.name) == "__new__";
  const char* self = !e.owner || constructor ? nullptr : (e.flags & METH_CLASS) ? "$cls" : "$self";
  return text_signature(constructor ? e.owner : e.name, self, e.names.data(), N, e.required, e.doc);
}

// The PyMethodDef of a function or method entry with its implementation, registered with the
// module (a function) or with its class's methods, which arrange it by the class's order.
// Defined once at namespace scope; the definition it registers lives as long as the module.
class Binding {
 public:
  template <std::size_t N, class... C>
  Binding(const Entry<N, C...>& e, FastFunction f)
      : Binding(e.owner, text_signature(e),
                {e.name, as_method(f), METH_FASTCALL | METH_KEYWORDS | e.flags, nullptr}) {}
  Binding(const Entry<0>& e, NoArgFunction f)
      : Binding(e.owner, text_signature(e), {e.name, as_method(f), METH_NOARGS, nullptr}) {}
  Binding(const Binding&) = delete;
  Binding& operator=(const Binding&) = delete;

 private:
  Binding(const char* owner, std::string doc, PyMethodDef def);
  std::string doc_;
  PyMethodDef def_;
};

// The Binding of a module function whose body takes the converted arguments, in signature
// order, and returns a Ref; the entry point itself (binding, conversion, the exception routes)
// is generated from the entry:
//   const Binding b = function_binding<entry>([](auto nodes, auto point) { return ...; });
template <const auto& E, class Body>
PyObject* converted_call(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  return guarded(E.callee(), [&] { return std::apply(Body{}, E.parse(args, nargs, kwnames)); });
}
template <const auto& E, class Body>
Binding function_binding(Body) {
  return Binding(E, converted_call<E, Body>);
}

// Shared access to an instance's value, for an `auto` variable.
template <class T>
Shared<T> shared(Instance<T>* inst) {
  return Shared<T>(inst);
}

// The Binding of a method whose body takes the receiver's value (read through Shared for the
// call) and then the converted arguments. Binds first, then checks the receiver (`Receiver`,
// which raises TypeError for a foreign self), then converts:
//   const Binding b = method_binding<entry, mesh_receiver>([](const Mesh& mesh, auto origin)
//   {...});
template <const auto& E, auto Receiver, class Body>
PyObject* method_call(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  return guarded(E.callee(), [&] {
    const auto slots = E.bind(args, nargs, kwnames);
    const auto value = shared(Receiver(self));
    return std::apply([&](auto... a) { return Body{}(*value, std::move(a)...); }, E.convert(slots));
  });
}
template <const auto& E, auto Receiver, class Body>
PyObject* method_call_without_arguments(PyObject* self, PyObject*) {
  return guarded(E.callee(), [&] {
    const auto value = shared(Receiver(self));
    return Body{}(*value);
  });
}
template <const auto& E, auto Receiver, class Body>
Binding method_binding(Body) {
  if constexpr (E.names.size() == 0)
    return Binding(E, method_call_without_arguments<E, Receiver, Body>);
  else
    return Binding(E, method_call<E, Receiver, Body>);
}

// The property of a getter or setter call: its class (the receiver's type) and its name, which
// the table row carries as its closure (see read_only and property_row).
Callee property_of(PyObject* self, void* closure);

// A property getter: `read` applied to the receiver's value, read through Shared.
template <auto Receiver, auto Read>
PyObject* getter(PyObject* self, void* closure) {
  return guarded(property_of(self, closure), [&] {
    const auto value = shared(Receiver(self));
    return Read(*value);
  });
}

// A property getter returning `to_python(value.*Member)`, and the setter that converts the new
// value with `convert` and stores it under exclusive access (deleting the property is refused).
template <auto Receiver, auto Member, auto ToPython>
PyObject* member_getter(PyObject* self, void* closure) {
  return guarded(property_of(self, closure), [&] {
    const auto value = shared(Receiver(self));
    return ToPython((*value).*Member);
  });
}
template <auto Receiver, auto Member, auto Convert>
int member_setter(PyObject* self, PyObject* value, void* closure) {
  return guarded_status(property_of(self, closure), [&] {
    if (!value) refuse_delete();
    auto converted = Convert(value);
    Exclusive target(Receiver(self));
    (*target).*Member = std::move(converted);
  });
}

// A property's table row; its name is also the closure, for property_of.
constexpr PyGetSetDef property_row(const char* name, ::getter get, ::setter set) {
  return {name, get, set, nullptr, const_cast<char*>(name)};
}
// A read-only property's table row.
constexpr PyGetSetDef read_only(const char* name, ::getter get) {
  return property_row(name, get, nullptr);
}

// A class's type from its constructor's entry: the name "builtins.<Class>", the docstring with
// the text signature, tp_new, and the methods declared for the class in `order` (ImportError
// when they disagree); `slots` adds the rest (properties, repr). Called once, by lazy_type.
template <class T, const auto& Constructor>
PyTypeObject* create_class_of(newfunc tp_new, std::initializer_list<const char*> order,
                              std::initializer_list<PyType_Slot> slots = {}) {
  static const std::string name = std::string("builtins.") + Constructor.owner;
  static std::vector<PyMethodDef> methods = method_table(Constructor.owner, order);
  std::vector<PyType_Slot> all(slots);
  all.push_back({Py_tp_methods, methods.data()});
  all.push_back({Py_tp_new, reinterpret_cast<void*>(tp_new)});
  return create_class<T>(name.c_str(), text_signature(Constructor).c_str(), all);
}

// The one accessor of a class's type: created by `Create` on first use (the module's
// initialisation), the same borrowed object afterwards.
template <PyTypeObject* (*Create)()>
PyTypeObject* lazy_type() {
  static PyTypeObject* type = nullptr;
  if (!type) type = Create();
  return type;
}

}  // namespace velk::py
