// The selection functions of the module: node indices by point, segment, sphere, rotated box,
// closest plane and plane side.
#include "core/selection.hpp"
#include "py/binder.hpp"
#include "py/convert.hpp"
#include "py/error_route.hpp"
#include "py/registry.hpp"

namespace velk::py {
namespace {

PyObject* closest_to_point_py(PyObject*, PyObject* const* args, Py_ssize_t nargs,
                              PyObject* kwnames) {
  return guarded([&] {
    static constexpr Params<2> params{"select_nodes_closest_to_point()", {"nodes", "point"}, 2};
    auto [nodes, point] =
        convert_all(params, bind(params, args, nargs, kwnames), to_node_list, to_point3);
    return py_index_list(select_nodes_closest_to_point(nodes, point));
  });
}

PyObject* on_line_py(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  return guarded([&] {
    static constexpr Params<3> params{"select_nodes_on_line()", {"nodes", "point_a", "point_b"}, 3};
    auto [nodes, point_a, point_b] =
        convert_all(params, bind(params, args, nargs, kwnames), to_node_list, to_point3, to_point3);
    return py_index_list(select_nodes_on_line(nodes, point_a, point_b));
  });
}

PyObject* in_sphere_py(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  return guarded([&] {
    static constexpr Params<3> params{"select_nodes_in_sphere()", {"nodes", "radius", "centre"}, 3};
    auto [nodes, radius, centre] =
        convert_all(params, bind(params, args, nargs, kwnames), to_node_list, to_float, to_point3);
    return py_index_list(select_nodes_in_sphere(nodes, radius, centre));
  });
}

PyObject* in_box_py(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  return guarded([&] {
    static constexpr Params<4> params{
        "select_nodes_in_box()", {"nodes", "length", "centre", "theta"}, 4};
    auto [nodes, length, centre, theta] = convert_all(
        params, bind(params, args, nargs, kwnames), to_node_list, to_point3, to_point3, to_point3);
    return py_index_list(select_nodes_in_box(nodes, length, centre, theta));
  });
}

PyObject* closest_to_plane_py(PyObject*, PyObject* const* args, Py_ssize_t nargs,
                              PyObject* kwnames) {
  return guarded([&] {
    static constexpr Params<3> params{
        "select_nodes_closest_to_plane()", {"nodes", "origin", "normal"}, 3};
    auto [nodes, origin, normal] =
        convert_all(params, bind(params, args, nargs, kwnames), to_node_list, to_point3, to_point3);
    return py_index_list(select_nodes_closest_to_plane(nodes, origin, normal));
  });
}

PyObject* in_plane_direction_py(PyObject*, PyObject* const* args, Py_ssize_t nargs,
                                PyObject* kwnames) {
  return guarded([&] {
    static constexpr Params<3> params{
        "select_nodes_in_plane_direction()", {"nodes", "origin", "normal"}, 3};
    auto [nodes, origin, normal] =
        convert_all(params, bind(params, args, nargs, kwnames), to_node_list, to_point3, to_point3);
    return py_index_list(select_nodes_in_plane_direction(nodes, origin, normal));
  });
}

PyMethodDef closest_to_point_def = {
    "select_nodes_closest_to_point", as_method(closest_to_point_py), kFast,
    "select_nodes_closest_to_point(nodes, point)\n--\n\nSelect node closest to point"};
PyMethodDef on_line_def = {"select_nodes_on_line", as_method(on_line_py), kFast,
                           "select_nodes_on_line(nodes, point_a, point_b)\n--\n\n"
                           "Select nodes on line"};
PyMethodDef in_sphere_def = {"select_nodes_in_sphere", as_method(in_sphere_py), kFast,
                             "select_nodes_in_sphere(nodes, radius, centre)\n--\n\n"
                             "Select nodes in sphere"};
// The box function's docstring reads "Select nodes in sphere" in the published interface.
PyMethodDef in_box_def = {"select_nodes_in_box", as_method(in_box_py), kFast,
                          "select_nodes_in_box(nodes, length, centre, theta)\n--\n\n"
                          "Select nodes in sphere"};
PyMethodDef closest_to_plane_def = {
    "select_nodes_closest_to_plane", as_method(closest_to_plane_py), kFast,
    "select_nodes_closest_to_plane(nodes, origin, normal)\n--\n\nSelect nodes closest to plane"};
PyMethodDef in_plane_direction_def = {
    "select_nodes_in_plane_direction", as_method(in_plane_direction_py), kFast,
    "select_nodes_in_plane_direction(nodes, origin, normal)\n--\n\n"
    "Select nodes in plane direction"};

FunctionRegistrar closest_to_point_registrar{&closest_to_point_def};
FunctionRegistrar on_line_registrar{&on_line_def};
FunctionRegistrar in_sphere_registrar{&in_sphere_def};
FunctionRegistrar in_box_registrar{&in_box_def};
FunctionRegistrar closest_to_plane_registrar{&closest_to_plane_def};
FunctionRegistrar in_plane_direction_registrar{&in_plane_direction_def};

}  // namespace
}  // namespace velk::py
