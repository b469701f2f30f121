// The Python class RbfDeformer: fitting an RBF deformer from control points, and deform.
#include "morph/rbf_deformer.hpp"
#include "py/class_support.hpp"
#include "py/entry.hpp"
#include "py/registry.hpp"
#include "py/results.hpp"

namespace velk::py {

namespace {

PyTypeObject* create_rbf_type();

PyTypeObject* rbf_type() {
  return lazy_type<create_rbf_type>();
}

Instance<morph::RbfDeformer>* rbf_receiver(PyObject* self) {
  return receiver<morph::RbfDeformer>(self, rbf_type(), "RbfDeformer");
}

// Control-point conversion failures, the length mismatch and construction Errors all take the
// internal-failure route; kernel and epsilon are converted first and named on failure.
constexpr auto rbf_new_entry = constructor(
    "RbfDeformer", {"original_control_points", "deformed_control_points", "kernel", "epsilon"}, 2,
    "Rbf deformer.");

PyObject* rbf_new(PyTypeObject* type, PyObject* args, PyObject* kwargs) {
  return guarded(rbf_new_entry.callee(), [&] {
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

const Binding rbf_deform_binding = method_binding<rbf_deform_entry, rbf_receiver>(
    [](const morph::RbfDeformer& deformer, auto points) {
      return py_node_list(unwrap_or_raise(deformer.deform(points), PyExc_ValueError));
    });

PyTypeObject* create_rbf_type() {
  return create_class_of<morph::RbfDeformer, rbf_new_entry>(rbf_new, {"deform"});
}

ClassRegistrar rbf_registrar{"RbfDeformer", rbf_type};

}  // namespace

}  // namespace velk::py
