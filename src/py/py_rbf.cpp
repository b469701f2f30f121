// The Python class RbfDeformer: fitting an RBF deformer from control points, and deform.
#include "morph/rbf.hpp"
#include "py/binder.hpp"
#include "py/class_support.hpp"
#include "py/registry.hpp"

namespace velk::py {

namespace {

PyTypeObject* rbf_type();

// Control-point conversion failures, the length mismatch and construction Errors all take the
// internal-failure route; kernel and epsilon are converted first and named on failure.
PyObject* rbf_new(PyTypeObject* type, PyObject* args, PyObject* kwargs) {
  return guarded([&] {
    static constexpr Params<4> params{
        "RbfDeformer.__new__()",
        {"original_control_points", "deformed_control_points", "kernel", "epsilon"},
        2};
    auto [original_arg, deformed_arg, kernel_arg, epsilon_arg] = bind(params, args, kwargs);
    std::optional<std::string> kernel = arg("kernel", kernel_arg, optional(to_string));
    std::optional<double> epsilon = arg("epsilon", epsilon_arg, optional(to_float));
    NodeList original = convert_or_panic([&] { return to_node_list(original_arg); });
    NodeList deformed = convert_or_panic([&] { return to_node_list(deformed_arg); });
    return new_instance(type, unwrap(RbfDeformer::create(original, deformed, kernel, epsilon)));
  });
}

PyObject* rbf_deform(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  return guarded([&] {
    static constexpr Params<1> params{"RbfDeformer.deform()", {"points"}, 1};
    const auto slots = bind(params, args, nargs, kwnames);
    Shared<RbfDeformer> deformer(receiver<RbfDeformer>(self, rbf_type(), "RbfDeformer"));
    auto [points] = convert_all(params, slots, to_node_list);
    return py_node_list(unwrap_or_raise(deformer->deform(points), PyExc_ValueError));
  });
}

PyMethodDef rbf_deform_def = {"deform", as_method(rbf_deform), METH_FASTCALL | METH_KEYWORDS,
                              "deform($self, points)\n--\n\n"};

PyTypeObject* create_rbf_type() {
  static std::vector<PyMethodDef> methods =
      method_table("RbfDeformer", {&rbf_deform_def}, {"deform"});
  return create_class<RbfDeformer>(
      "builtins.RbfDeformer",
      "RbfDeformer(original_control_points, deformed_control_points, kernel=None, "
      "epsilon=None)\n--\n\nRbf deformer.",
      {{Py_tp_methods, methods.data()}, {Py_tp_new, reinterpret_cast<void*>(rbf_new)}});
}

PyTypeObject* rbf_type() {
  static PyTypeObject* type = nullptr;
  if (!type) type = create_rbf_type();
  return type;
}

ClassRegistrar rbf_registrar{"RbfDeformer", rbf_type};

}  // namespace

}  // namespace velk::py
