// The transform functions of the module: translate, rotate, scale and matrix-transform a copy of
// the caller's nodes, transform selected nodes, and build a transformation matrix.
#include "morph/transforms.hpp"
#include "py/convert.hpp"
#include "py/entry.hpp"

namespace velk::py {
namespace {

constexpr auto translate_nodes_entry = function("translate_nodes", {"nodes", "translation"}, 2,
                                                "Translate nodes", to_node_list, to_point3);

PyObject* translate_nodes_py(PyObject*, PyObject* const* args, Py_ssize_t nargs,
                             PyObject* kwnames) {
  return guarded([&] {
    auto [nodes, translation] = translate_nodes_entry.parse(args, nargs, kwnames);
    morph::translate_nodes(nodes, translation);
    return py_node_list(nodes);
  });
}
const Binding translate_nodes_binding{translate_nodes_entry, translate_nodes_py};

constexpr auto rotate_nodes_entry = function("rotate_nodes", {"nodes", "rotation", "origin"}, 3,
                                             "Rotate nodes", to_node_list, to_point3, to_point3);

PyObject* rotate_nodes_py(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  return guarded([&] {
    auto [nodes, rotation, origin] = rotate_nodes_entry.parse(args, nargs, kwnames);
    morph::rotate_nodes(nodes, rotation, origin);
    return py_node_list(nodes);
  });
}
const Binding rotate_nodes_binding{rotate_nodes_entry, rotate_nodes_py};

constexpr auto scale_nodes_entry = function("scale_nodes", {"nodes", "scaling", "origin"}, 3,
                                            "Scale nodes", to_node_list, to_point3, to_point3);

PyObject* scale_nodes_py(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  return guarded([&] {
    auto [nodes, scaling, origin] = scale_nodes_entry.parse(args, nargs, kwnames);
    morph::scale_nodes(nodes, scaling, origin);
    return py_node_list(nodes);
  });
}
const Binding scale_nodes_binding{scale_nodes_entry, scale_nodes_py};

constexpr auto transform_nodes_entry =
    function("transform_nodes", {"nodes", "transformation_matrix", "origin"}, 3, "Transform nodes",
             to_node_list, to_matrix, to_point3);

PyObject* transform_nodes_py(PyObject*, PyObject* const* args, Py_ssize_t nargs,
                             PyObject* kwnames) {
  return guarded([&] {
    auto [nodes, matrix, origin] = transform_nodes_entry.parse(args, nargs, kwnames);
    morph::transform_nodes(nodes, matrix, origin);
    return py_node_list(nodes);
  });
}
const Binding transform_nodes_binding{transform_nodes_entry, transform_nodes_py};

constexpr auto transform_selected_nodes_entry = function(
    "transform_selected_nodes", {"nodes", "selected_ids", "transformation_matrix", "origin"}, 4,
    "Transform selected nodes", to_node_list, to_index_list, to_matrix, to_point3);

PyObject* transform_selected_nodes_py(PyObject*, PyObject* const* args, Py_ssize_t nargs,
                                      PyObject* kwnames) {
  return guarded([&] {
    auto [nodes, ids, matrix, origin] = transform_selected_nodes_entry.parse(args, nargs, kwnames);
    return py_node_list(morph::transform_selected_nodes(nodes, ids, matrix, origin));
  });
}
const Binding transform_selected_nodes_binding{transform_selected_nodes_entry,
                                               transform_selected_nodes_py};

constexpr auto build_transformation_matrix_entry =
    function("build_transformation_matrix", {"translation", "rotation", "scaling"}, 3,
             "Transformation matrix", to_point3, to_point3, to_point3);

PyObject* build_transformation_matrix_py(PyObject*, PyObject* const* args, Py_ssize_t nargs,
                                         PyObject* kwnames) {
  return guarded([&] {
    auto [translation, rotation, scaling] =
        build_transformation_matrix_entry.parse(args, nargs, kwnames);
    return py_matrix(morph::build_transformation_matrix(translation, rotation, scaling));
  });
}
const Binding build_transformation_matrix_binding{build_transformation_matrix_entry,
                                                  build_transformation_matrix_py};

}  // namespace
}  // namespace velk::py
