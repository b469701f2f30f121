// The selection functions of the module: node indices by point, segment, sphere, rotated box,
// closest plane and plane side.
#include "core/selection.hpp"
#include "py/arguments.hpp"
#include "py/entry.hpp"
#include "py/results.hpp"

namespace velk::py {
namespace {

// Runs a core selection on the converted arguments and returns its indices as a list.
template <auto Select>
constexpr auto index_list_from = [](auto... args) { return py_index_list(Select(args...)); };

constexpr auto closest_to_point_entry =
    function("select_nodes_closest_to_point", {"nodes", "point"}, 2, "Select node closest to point",
             to_node_list, to_point3);

constexpr auto on_line_entry = function("select_nodes_on_line", {"nodes", "point_a", "point_b"}, 3,
                                        "Select nodes on line", to_node_list, to_point3, to_point3);

constexpr auto in_sphere_entry =
    function("select_nodes_in_sphere", {"nodes", "radius", "centre"}, 3, "Select nodes in sphere",
             to_node_list, to_float, to_point3);

// The box function's docstring reads "Select nodes in sphere" in the published interface.
constexpr auto in_box_entry =
    function("select_nodes_in_box", {"nodes", "length", "centre", "theta"}, 4,
             "Select nodes in sphere", to_node_list, to_point3, to_point3, to_point3);

constexpr auto closest_to_plane_entry =
    function("select_nodes_closest_to_plane", {"nodes", "origin", "normal"}, 3,
             "Select nodes closest to plane", to_node_list, to_point3, to_point3);

constexpr auto in_plane_direction_entry =
    function("select_nodes_in_plane_direction", {"nodes", "origin", "normal"}, 3,
             "Select nodes in plane direction", to_node_list, to_point3, to_point3);

// The bindings register the entries above, in declaration order.
const Binding bindings[] = {
    function_binding<closest_to_point_entry>(index_list_from<&select_nodes_closest_to_point>),
    function_binding<on_line_entry>(index_list_from<&select_nodes_on_line>),
    function_binding<in_sphere_entry>(index_list_from<&select_nodes_in_sphere>),
    function_binding<in_box_entry>(index_list_from<&select_nodes_in_box>),
    function_binding<closest_to_plane_entry>(index_list_from<&select_nodes_closest_to_plane>),
    function_binding<in_plane_direction_entry>(index_list_from<&select_nodes_in_plane_direction>),
};

}  // namespace
}  // namespace velk::py
