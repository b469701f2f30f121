// The Python class RbfDeformer: fitting an RBF deformer from control points, and deform.
#include "morph/rbf_deformer.hpp"
#include "py/class_support.hpp"
#include "py/entry.hpp"
#include "py/registry.hpp"

namespace velk::py {

namespace {

PyTypeObject* create_rbf_type();

PyTypeObject* rbf_type() {
  return lazy_type<create_rbf_type>();
}

// Control-point conversion failures, the length mismatch and construction Errors all take the
// internal-failure route; kernel and epsilon are converted first and named on failure.
constexpr auto rbf_new_entry = constructor(
    "RbfDeformer", {"original_control_points", "deformed_control_points", "kernel", "epsilon"}, 2,
    "Rbf deformer.");

PyObject* rbf_new(PyTypeObject* type, PyObject* args, PyObject* kwargs) {
  return guarded([&] {
    auto [original_arg, deformed_arg, kernel_arg, epsilon_arg] = rbf_new_entry.bind(args, kwargs);
    std::optional<std::string> kernel = arg("kernel", kernel_arg, optional(to_string));
    std::optional<double> epsilon = arg("epsilon", epsilon_arg, optional(to_float));
    NodeList original = convert_or_panic([&] { return to_node_list(original_arg); });
    NodeList deformed = convert_or_panic([&] { return to_node_list(deformed_arg); });
    return new_instance(type,
                        unwrap(morph::RbfDeformer::create(original, deformed, kernel, epsilon)));
  });
}

constexpr auto rbf_deform_entry = method("RbfDeformer", "deform", {"points"}, 1, "", to_node_list);

PyObject* rbf_deform(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  return guarded([&] {
    const auto slots = rbf_deform_entry.bind(args, nargs, kwnames);
    Shared<morph::RbfDeformer> deformer(
        receiver<morph::RbfDeformer>(self, rbf_type(), "RbfDeformer"));
    auto [points] = rbf_deform_entry.convert(slots);
    return py_node_list(unwrap_or_raise(deformer->deform(points), PyExc_ValueError));
  });
}

const Binding rbf_deform_binding{rbf_deform_entry, rbf_deform};

PyTypeObject* create_rbf_type() {
  static std::vector<PyMethodDef> methods = method_table("RbfDeformer", {"deform"});
  return create_class<morph::RbfDeformer>(
      "builtins.RbfDeformer", text_signature(rbf_new_entry).c_str(),
      {{Py_tp_methods, methods.data()}, {Py_tp_new, reinterpret_cast<void*>(rbf_new)}});
}

ClassRegistrar rbf_registrar{"RbfDeformer", rbf_type};

}  // namespace

}  // namespace velk::py
