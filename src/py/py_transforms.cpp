// The transform functions of the module: translate, rotate, scale and matrix-transform a copy of
// the caller's nodes, transform selected nodes, and build a transformation matrix.
#include "morph/transforms.hpp"
#include "py/binder.hpp"
#include "py/convert.hpp"
#include "py/error_route.hpp"
#include "py/registry.hpp"

namespace velk::py {
namespace {

PyObject* translate_nodes_py(PyObject*, PyObject* const* args, Py_ssize_t nargs,
                             PyObject* kwnames) {
  return guarded([&] {
    static constexpr Params<2> params{"translate_nodes()", {"nodes", "translation"}, 2};
    auto [nodes, translation] =
        convert_all(params, bind(params, args, nargs, kwnames), to_node_list, to_point3);
    translate_nodes(nodes, translation);
    return py_node_list(nodes);
  });
}

PyObject* rotate_nodes_py(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  return guarded([&] {
    static constexpr Params<3> params{"rotate_nodes()", {"nodes", "rotation", "origin"}, 3};
    auto [nodes, rotation, origin] =
        convert_all(params, bind(params, args, nargs, kwnames), to_node_list, to_point3, to_point3);
    rotate_nodes(nodes, rotation, origin);
    return py_node_list(nodes);
  });
}

PyObject* scale_nodes_py(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  return guarded([&] {
    static constexpr Params<3> params{"scale_nodes()", {"nodes", "scaling", "origin"}, 3};
    auto [nodes, scaling, origin] =
        convert_all(params, bind(params, args, nargs, kwnames), to_node_list, to_point3, to_point3);
    scale_nodes(nodes, scaling, origin);
    return py_node_list(nodes);
  });
}

PyObject* transform_nodes_py(PyObject*, PyObject* const* args, Py_ssize_t nargs,
                             PyObject* kwnames) {
  return guarded([&] {
    static constexpr Params<3> params{
        "transform_nodes()", {"nodes", "transformation_matrix", "origin"}, 3};
    auto [nodes, matrix, origin] =
        convert_all(params, bind(params, args, nargs, kwnames), to_node_list, to_matrix, to_point3);
    transform_nodes(nodes, matrix, origin);
    return py_node_list(nodes);
  });
}

PyObject* transform_selected_nodes_py(PyObject*, PyObject* const* args, Py_ssize_t nargs,
                                      PyObject* kwnames) {
  return guarded([&] {
    static constexpr Params<4> params{"transform_selected_nodes()",
                                      {"nodes", "selected_ids", "transformation_matrix", "origin"},
                                      4};
    auto [nodes, ids, matrix, origin] =
        convert_all(params, bind(params, args, nargs, kwnames), to_node_list, to_index_list,
                    to_matrix, to_point3);
    return py_node_list(transform_selected_nodes(nodes, ids, matrix, origin));
  });
}

PyObject* build_transformation_matrix_py(PyObject*, PyObject* const* args, Py_ssize_t nargs,
                                         PyObject* kwnames) {
  return guarded([&] {
    static constexpr Params<3> params{
        "build_transformation_matrix()", {"translation", "rotation", "scaling"}, 3};
    auto [translation, rotation, scaling] =
        convert_all(params, bind(params, args, nargs, kwnames), to_point3, to_point3, to_point3);
    return py_matrix(build_transformation_matrix(translation, rotation, scaling));
  });
}

PyMethodDef translate_nodes_def = {"translate_nodes", as_method(translate_nodes_py), kFast,
                                   "translate_nodes(nodes, translation)\n--\n\nTranslate nodes"};
PyMethodDef rotate_nodes_def = {"rotate_nodes", as_method(rotate_nodes_py), kFast,
                                "rotate_nodes(nodes, rotation, origin)\n--\n\nRotate nodes"};
PyMethodDef scale_nodes_def = {"scale_nodes", as_method(scale_nodes_py), kFast,
                               "scale_nodes(nodes, scaling, origin)\n--\n\nScale nodes"};
PyMethodDef transform_nodes_def = {
    "transform_nodes", as_method(transform_nodes_py), kFast,
    "transform_nodes(nodes, transformation_matrix, origin)\n--\n\nTransform nodes"};
PyMethodDef transform_selected_nodes_def = {
    "transform_selected_nodes", as_method(transform_selected_nodes_py), kFast,
    "transform_selected_nodes(nodes, selected_ids, transformation_matrix, origin)\n--\n\n"
    "Transform selected nodes"};
PyMethodDef build_transformation_matrix_def = {
    "build_transformation_matrix", as_method(build_transformation_matrix_py), kFast,
    "build_transformation_matrix(translation, rotation, scaling)\n--\n\nTransformation matrix"};

FunctionRegistrar translate_nodes_registrar{&translate_nodes_def};
FunctionRegistrar rotate_nodes_registrar{&rotate_nodes_def};
FunctionRegistrar scale_nodes_registrar{&scale_nodes_def};
FunctionRegistrar transform_nodes_registrar{&transform_nodes_def};
FunctionRegistrar transform_selected_nodes_registrar{&transform_selected_nodes_def};
FunctionRegistrar build_transformation_matrix_registrar{&build_transformation_matrix_def};

}  // namespace
}  // namespace velk::py
