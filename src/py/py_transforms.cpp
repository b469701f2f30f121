// The transform functions of the module: translate, rotate, scale and matrix-transform a copy of
// the caller's nodes, transform selected nodes, and build a transformation matrix.
#include "morph/transforms.hpp"
#include "py/arguments.hpp"
#include "py/entry.hpp"
#include "py/results.hpp"

namespace velk::py {
namespace {

// The body of an in-place transform's binding: Move(nodes, arguments...) on the converted copy,
// which is returned as the moved node list.
template <auto Move>
struct MovedNodes {
  Ref operator()(NodeList nodes, const auto&... arguments) const {
    Move(nodes, arguments...);
    return py_node_list(nodes);
  }
};

constexpr auto translate_nodes_entry = function("translate_nodes", {"nodes", "translation"}, 2,
                                                "Translate nodes", to_node_list, to_point3);

const Binding translate_nodes_binding =
    function_binding<translate_nodes_entry>(MovedNodes<morph::translate_nodes>{});

constexpr auto rotate_nodes_entry = function("rotate_nodes", {"nodes", "rotation", "origin"}, 3,
                                             "Rotate nodes", to_node_list, to_point3, to_point3);

const Binding rotate_nodes_binding =
    function_binding<rotate_nodes_entry>(MovedNodes<morph::rotate_nodes>{});

constexpr auto scale_nodes_entry = function("scale_nodes", {"nodes", "scaling", "origin"}, 3,
                                            "Scale nodes", to_node_list, to_point3, to_point3);

const Binding scale_nodes_binding =
    function_binding<scale_nodes_entry>(MovedNodes<morph::scale_nodes>{});

constexpr auto transform_nodes_entry =
    function("transform_nodes", {"nodes", "transformation_matrix", "origin"}, 3, "Transform nodes",
             to_node_list, to_matrix, to_point3);

const Binding transform_nodes_binding =
    function_binding<transform_nodes_entry>(MovedNodes<morph::transform_nodes>{});

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
