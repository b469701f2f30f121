// The selection functions of the module: node indices by point, segment, sphere, rotated box,
// closest plane and plane side.
#include "core/selection.hpp"
#include "py/convert.hpp"
#include "py/entry.hpp"

namespace velk::py {
namespace {

constexpr auto closest_to_point_entry =
    function("select_nodes_closest_to_point", {"nodes", "point"}, 2, "Select node closest to point",
             to_node_list, to_point3);

const Binding closest_to_point_binding =
    function_binding<closest_to_point_entry>([](auto nodes, auto point) {
      return py_index_list(select_nodes_closest_to_point(nodes, point));
    });

constexpr auto on_line_entry = function("select_nodes_on_line", {"nodes", "point_a", "point_b"}, 3,
                                        "Select nodes on line", to_node_list, to_point3, to_point3);

const Binding on_line_binding =
    function_binding<on_line_entry>([](auto nodes, auto point_a, auto point_b) {
      return py_index_list(select_nodes_on_line(nodes, point_a, point_b));
    });

constexpr auto in_sphere_entry =
    function("select_nodes_in_sphere", {"nodes", "radius", "centre"}, 3, "Select nodes in sphere",
             to_node_list, to_float, to_point3);

const Binding in_sphere_binding =
    function_binding<in_sphere_entry>([](auto nodes, auto radius, auto centre) {
      return py_index_list(select_nodes_in_sphere(nodes, radius, centre));
    });

// The box function's docstring reads "Select nodes in sphere" in the published interface.
constexpr auto in_box_entry =
    function("select_nodes_in_box", {"nodes", "length", "centre", "theta"}, 4,
             "Select nodes in sphere", to_node_list, to_point3, to_point3, to_point3);

const Binding in_box_binding =
    function_binding<in_box_entry>([](auto nodes, auto length, auto centre, auto theta) {
      return py_index_list(select_nodes_in_box(nodes, length, centre, theta));
    });

constexpr auto closest_to_plane_entry =
    function("select_nodes_closest_to_plane", {"nodes", "origin", "normal"}, 3,
             "Select nodes closest to plane", to_node_list, to_point3, to_point3);

const Binding closest_to_plane_binding =
    function_binding<closest_to_plane_entry>([](auto nodes, auto origin, auto normal) {
      return py_index_list(select_nodes_closest_to_plane(nodes, origin, normal));
    });

constexpr auto in_plane_direction_entry =
    function("select_nodes_in_plane_direction", {"nodes", "origin", "normal"}, 3,
             "Select nodes in plane direction", to_node_list, to_point3, to_point3);

const Binding in_plane_direction_binding =
    function_binding<in_plane_direction_entry>([](auto nodes, auto origin, auto normal) {
      return py_index_list(select_nodes_in_plane_direction(nodes, origin, normal));
    });

}  // namespace
}  // namespace velk::py
