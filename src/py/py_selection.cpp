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

PyObject* closest_to_point_py(PyObject*, PyObject* const* args, Py_ssize_t nargs,
                              PyObject* kwnames) {
  return guarded([&] {
    auto [nodes, point] = closest_to_point_entry.parse(args, nargs, kwnames);
    return py_index_list(select_nodes_closest_to_point(nodes, point));
  });
}
const Binding closest_to_point_binding{closest_to_point_entry, closest_to_point_py};

constexpr auto on_line_entry = function("select_nodes_on_line", {"nodes", "point_a", "point_b"}, 3,
                                        "Select nodes on line", to_node_list, to_point3, to_point3);

PyObject* on_line_py(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  return guarded([&] {
    auto [nodes, point_a, point_b] = on_line_entry.parse(args, nargs, kwnames);
    return py_index_list(select_nodes_on_line(nodes, point_a, point_b));
  });
}
const Binding on_line_binding{on_line_entry, on_line_py};

constexpr auto in_sphere_entry =
    function("select_nodes_in_sphere", {"nodes", "radius", "centre"}, 3, "Select nodes in sphere",
             to_node_list, to_float, to_point3);

PyObject* in_sphere_py(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  return guarded([&] {
    auto [nodes, radius, centre] = in_sphere_entry.parse(args, nargs, kwnames);
    return py_index_list(select_nodes_in_sphere(nodes, radius, centre));
  });
}
const Binding in_sphere_binding{in_sphere_entry, in_sphere_py};

// The box function's docstring reads "Select nodes in sphere" in the published interface.
constexpr auto in_box_entry =
    function("select_nodes_in_box", {"nodes", "length", "centre", "theta"}, 4,
             "Select nodes in sphere", to_node_list, to_point3, to_point3, to_point3);

PyObject* in_box_py(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  return guarded([&] {
    auto [nodes, length, centre, theta] = in_box_entry.parse(args, nargs, kwnames);
    return py_index_list(select_nodes_in_box(nodes, length, centre, theta));
  });
}
const Binding in_box_binding{in_box_entry, in_box_py};

constexpr auto closest_to_plane_entry =
    function("select_nodes_closest_to_plane", {"nodes", "origin", "normal"}, 3,
             "Select nodes closest to plane", to_node_list, to_point3, to_point3);

PyObject* closest_to_plane_py(PyObject*, PyObject* const* args, Py_ssize_t nargs,
                              PyObject* kwnames) {
  return guarded([&] {
    auto [nodes, origin, normal] = closest_to_plane_entry.parse(args, nargs, kwnames);
    return py_index_list(select_nodes_closest_to_plane(nodes, origin, normal));
  });
}
const Binding closest_to_plane_binding{closest_to_plane_entry, closest_to_plane_py};

constexpr auto in_plane_direction_entry =
    function("select_nodes_in_plane_direction", {"nodes", "origin", "normal"}, 3,
             "Select nodes in plane direction", to_node_list, to_point3, to_point3);

PyObject* in_plane_direction_py(PyObject*, PyObject* const* args, Py_ssize_t nargs,
                                PyObject* kwnames) {
  return guarded([&] {
    auto [nodes, origin, normal] = in_plane_direction_entry.parse(args, nargs, kwnames);
    return py_index_list(select_nodes_in_plane_direction(nodes, origin, normal));
  });
}
const Binding in_plane_direction_binding{in_plane_direction_entry, in_plane_direction_py};

}  // namespace
}  // namespace velk::py
