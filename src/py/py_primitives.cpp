// The eight shape-generator functions: bind and convert the arguments in signature order, run
// the core generator, and return a new Mesh. A generator's Error is an internal failure.
#include <array>

#include "core/primitives.hpp"
#include "py/convert.hpp"
#include "py/entry.hpp"
#include "py/py_mesh.hpp"

namespace velk::py {
namespace {

constexpr auto generate_box_entry =
    function("generate_box", {"length", "centre", "theta", "resolution"}, 4,
             "Generate box primative", to_point3, to_point3, to_point3, to_resolution);

PyObject* generate_box_py(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  return guarded([&] {
    auto [length, centre, theta, resolution] = generate_box_entry.parse(args, nargs, kwnames);
    return wrap_mesh(unwrap(generate_box(length, centre, theta, resolution)));
  });
}
const Binding generate_box_binding{generate_box_entry, generate_box_py};

constexpr auto generate_icosphere_entry =
    function("generate_icosphere", {"radius", "centre", "subdivisions"}, 3,
             "Generate icosphere primative", to_float, to_point3, to_u32);

PyObject* generate_icosphere_py(PyObject*, PyObject* const* args, Py_ssize_t nargs,
                                PyObject* kwnames) {
  return guarded([&] {
    auto [radius, centre, subdivisions] = generate_icosphere_entry.parse(args, nargs, kwnames);
    return wrap_mesh(unwrap(generate_icosphere(radius, centre, subdivisions)));
  });
}
const Binding generate_icosphere_binding{generate_icosphere_entry, generate_icosphere_py};

constexpr auto generate_uvsphere_entry =
    function("generate_uvsphere", {"radius", "centre", "sectors", "stacks"}, 4,
             "Generate uv sphere primative", to_float, to_point3, to_u32, to_u32);

PyObject* generate_uvsphere_py(PyObject*, PyObject* const* args, Py_ssize_t nargs,
                               PyObject* kwnames) {
  return guarded([&] {
    auto [radius, centre, sectors, stacks] = generate_uvsphere_entry.parse(args, nargs, kwnames);
    return wrap_mesh(unwrap(generate_uvsphere(radius, centre, sectors, stacks)));
  });
}
const Binding generate_uvsphere_binding{generate_uvsphere_entry, generate_uvsphere_py};

constexpr auto generate_cylinder_entry =
    function("generate_cylinder", {"radius", "height", "centre", "sectors", "stacks"}, 5,
             "Generate cylinder primative", to_float, to_float, to_point3, to_u32, to_u32);

PyObject* generate_cylinder_py(PyObject*, PyObject* const* args, Py_ssize_t nargs,
                               PyObject* kwnames) {
  return guarded([&] {
    auto [radius, height, centre, sectors, stacks] =
        generate_cylinder_entry.parse(args, nargs, kwnames);
    return wrap_mesh(unwrap(generate_cylinder(radius, height, centre, sectors, stacks)));
  });
}
const Binding generate_cylinder_binding{generate_cylinder_entry, generate_cylinder_py};

constexpr auto generate_cone_entry =
    function("generate_cone", {"radius", "height", "centre", "sectors"}, 4,
             "Generate cone primative", to_float, to_float, to_point3, to_u32);

PyObject* generate_cone_py(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  return guarded([&] {
    auto [radius, height, centre, sectors] = generate_cone_entry.parse(args, nargs, kwnames);
    return wrap_mesh(unwrap(generate_cone(radius, height, centre, sectors)));
  });
}
const Binding generate_cone_binding{generate_cone_entry, generate_cone_py};

constexpr auto generate_capsule_entry =
    function("generate_capsule", {"radius", "cylinder_height", "centre", "sectors", "stacks"}, 5,
             "Generate capsule primative", to_float, to_float, to_point3, to_u32, to_u32);

PyObject* generate_capsule_py(PyObject*, PyObject* const* args, Py_ssize_t nargs,
                              PyObject* kwnames) {
  return guarded([&] {
    auto [radius, cylinder_height, centre, sectors, stacks] =
        generate_capsule_entry.parse(args, nargs, kwnames);
    return wrap_mesh(unwrap(generate_capsule(radius, cylinder_height, centre, sectors, stacks)));
  });
}
const Binding generate_capsule_binding{generate_capsule_entry, generate_capsule_py};

constexpr auto generate_torus_entry =
    function("generate_torus",
             {"major_radius", "minor_radius", "centre", "major_segments", "minor_segments"}, 5,
             "Generate torus primative", to_float, to_float, to_point3, to_u32, to_u32);

PyObject* generate_torus_py(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  return guarded([&] {
    auto [major_radius, minor_radius, centre, major_segments, minor_segments] =
        generate_torus_entry.parse(args, nargs, kwnames);
    return wrap_mesh(
        unwrap(generate_torus(major_radius, minor_radius, centre, major_segments, minor_segments)));
  });
}
const Binding generate_torus_binding{generate_torus_entry, generate_torus_py};

constexpr auto generate_naca_wing_entry = function(
    "generate_naca_wing",
    {"maximum_camber", "camber_distance", "maximum_thickness", "n_points", "wing_span"}, 5,
    "Generate naca wing primative", to_float, to_float, to_float, to_unsigned, to_float_pair);

PyObject* generate_naca_wing_py(PyObject*, PyObject* const* args, Py_ssize_t nargs,
                                PyObject* kwnames) {
  return guarded([&] {
    auto [maximum_camber, camber_distance, maximum_thickness, n_points, wing_span] =
        generate_naca_wing_entry.parse(args, nargs, kwnames);
    return wrap_mesh(unwrap(generate_naca_wing(maximum_camber, camber_distance, maximum_thickness,
                                               n_points, wing_span)));
  });
}
const Binding generate_naca_wing_binding{generate_naca_wing_entry, generate_naca_wing_py};

}  // namespace
}  // namespace velk::py
