// The transform functions of the module: translate, rotate, scale and matrix-transform a copy of
// the caller's nodes, transform selected nodes, and build a transformation matrix.
#include "morph/transforms.hpp"
#include "py/convert.hpp"
#include "py/entry.hpp"

namespace velk::py {
namespace {

constexpr auto translate_nodes_entry = function("translate_nodes", {"nodes", "translation"}, 2,
                                                "Translate nodes", to_node_list, to_point3);

const Binding translate_nodes_binding =
    function_binding<translate_nodes_entry>([](auto nodes, auto translation) {
      morph::translate_nodes(nodes, translation);
      return py_node_list(nodes);
    });

constexpr auto rotate_nodes_entry = function("rotate_nodes", {"nodes", "rotation", "origin"}, 3,
                                             "Rotate nodes", to_node_list, to_point3, to_point3);

const Binding rotate_nodes_binding =
    function_binding<rotate_nodes_entry>([](auto nodes, auto rotation, auto origin) {
      morph::rotate_nodes(nodes, rotation, origin);
      return py_node_list(nodes);
    });

constexpr auto scale_nodes_entry = function("scale_nodes", {"nodes", "scaling", "origin"}, 3,
                                            "Scale nodes", to_node_list, to_point3, to_point3);

const Binding scale_nodes_binding =
    function_binding<scale_nodes_entry>([](auto nodes, auto scaling, auto origin) {
      morph::scale_nodes(nodes, scaling, origin);
      return py_node_list(nodes);
    });

constexpr auto transform_nodes_entry =
    function("transform_nodes", {"nodes", "transformation_matrix", "origin"}, 3, "Transform nodes",
             to_node_list, to_matrix, to_point3);

const Binding transform_nodes_binding =
    function_binding<transform_nodes_entry>([](auto nodes, auto matrix, auto origin) {
      morph::transform_nodes(nodes, matrix, origin);
      return py_node_list(nodes);
    });

constexpr auto transform_selected_nodes_entry = function(
    "transform_selected_nodes", {"nodes", "selected_ids", "transformation_matrix", "origin"}, 4,
    "Transform selected nodes", to_node_list, to_index_list, to_matrix, to_point3);

const Binding transform_selected_nodes_binding = function_binding<transform_selected_nodes_entry>(
    [](auto nodes, auto ids, auto matrix, auto origin) {
      return py_node_list(morph::transform_selected_nodes(nodes, ids, matrix, origin));
    });

constexpr auto build_transformation_matrix_entry =
    function("build_transformation_matrix", {"translation", "rotation", "scaling"}, 3,
             "Transformation matrix", to_point3, to_point3, to_point3);

const Binding build_transformation_matrix_binding =
    function_binding<build_transformation_matrix_entry>(
        [](auto translation, auto rotation, auto scaling) {
          return py_matrix(morph::build_transformation_matrix(translation, rotation, scaling));
        });

}  // namespace
}  // namespace velk::py
