// The eight shape-generator functions: bind and convert the arguments in signature order, run
// the core generator, and return a new Mesh. A generator's Error is an internal failure.
#include <array>

#include "core/primitives.hpp"
#include "py/binder.hpp"
#include "py/convert.hpp"
#include "py/error_route.hpp"
#include "py/py_mesh.hpp"
#include "py/registry.hpp"

namespace velk::py {
namespace {

PyObject* generate_box_py(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  return guarded([&] {
    static constexpr Params<4> params{
        "generate_box()", {"length", "centre", "theta", "resolution"}, 4};
    auto [length, centre, theta, resolution] = convert_all(
        params, bind(params, args, nargs, kwnames), to_point3, to_point3, to_point3, to_resolution);
    return wrap_mesh(unwrap(generate_box(length, centre, theta, resolution)));
  });
}

PyObject* generate_icosphere_py(PyObject*, PyObject* const* args, Py_ssize_t nargs,
                                PyObject* kwnames) {
  return guarded([&] {
    static constexpr Params<3> params{
        "generate_icosphere()", {"radius", "centre", "subdivisions"}, 3};
    auto [radius, centre, subdivisions] =
        convert_all(params, bind(params, args, nargs, kwnames), to_float, to_point3, to_u32);
    return wrap_mesh(unwrap(generate_icosphere(radius, centre, subdivisions)));
  });
}

PyObject* generate_uvsphere_py(PyObject*, PyObject* const* args, Py_ssize_t nargs,
                               PyObject* kwnames) {
  return guarded([&] {
    static constexpr Params<4> params{
        "generate_uvsphere()", {"radius", "centre", "sectors", "stacks"}, 4};
    auto [radius, centre, sectors, stacks] = convert_all(params, bind(params, args, nargs, kwnames),
                                                         to_float, to_point3, to_u32, to_u32);
    return wrap_mesh(unwrap(generate_uvsphere(radius, centre, sectors, stacks)));
  });
}

PyObject* generate_cylinder_py(PyObject*, PyObject* const* args, Py_ssize_t nargs,
                               PyObject* kwnames) {
  return guarded([&] {
    static constexpr Params<5> params{
        "generate_cylinder()", {"radius", "height", "centre", "sectors", "stacks"}, 5};
    auto [radius, height, centre, sectors, stacks] = convert_all(
        params, bind(params, args, nargs, kwnames), to_float, to_float, to_point3, to_u32, to_u32);
    return wrap_mesh(unwrap(generate_cylinder(radius, height, centre, sectors, stacks)));
  });
}

PyObject* generate_cone_py(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  return guarded([&] {
    static constexpr Params<4> params{
        "generate_cone()", {"radius", "height", "centre", "sectors"}, 4};
    auto [radius, height, centre, sectors] = convert_all(params, bind(params, args, nargs, kwnames),
                                                         to_float, to_float, to_point3, to_u32);
    return wrap_mesh(unwrap(generate_cone(radius, height, centre, sectors)));
  });
}

PyObject* generate_capsule_py(PyObject*, PyObject* const* args, Py_ssize_t nargs,
                              PyObject* kwnames) {
  return guarded([&] {
    static constexpr Params<5> params{
        "generate_capsule()", {"radius", "cylinder_height", "centre", "sectors", "stacks"}, 5};
    auto [radius, cylinder_height, centre, sectors, stacks] = convert_all(
        params, bind(params, args, nargs, kwnames), to_float, to_float, to_point3, to_u32, to_u32);
    return wrap_mesh(unwrap(generate_capsule(radius, cylinder_height, centre, sectors, stacks)));
  });
}

PyObject* generate_torus_py(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  return guarded([&] {
    static constexpr Params<5> params{
        "generate_torus()",
        {"major_radius", "minor_radius", "centre", "major_segments", "minor_segments"},
        5};
    auto [major_radius, minor_radius, centre, major_segments, minor_segments] = convert_all(
        params, bind(params, args, nargs, kwnames), to_float, to_float, to_point3, to_u32, to_u32);
    return wrap_mesh(
        unwrap(generate_torus(major_radius, minor_radius, centre, major_segments, minor_segments)));
  });
}

PyObject* generate_naca_wing_py(PyObject*, PyObject* const* args, Py_ssize_t nargs,
                                PyObject* kwnames) {
  return guarded([&] {
    static constexpr Params<5> params{
        "generate_naca_wing()",
        {"maximum_camber", "camber_distance", "maximum_thickness", "n_points", "wing_span"},
        5};
    auto [maximum_camber, camber_distance, maximum_thickness, n_points, wing_span] =
        convert_all(params, bind(params, args, nargs, kwnames), to_float, to_float, to_float,
                    to_unsigned, to_float_pair);
    return wrap_mesh(unwrap(generate_naca_wing(maximum_camber, camber_distance, maximum_thickness,
                                               n_points, wing_span)));
  });
}

PyMethodDef generate_box_def = {
    "generate_box", as_method(generate_box_py), METH_FASTCALL | METH_KEYWORDS,
    "generate_box(length, centre, theta, resolution)\n--\n\nGenerate box primative"};
PyMethodDef generate_icosphere_def = {
    "generate_icosphere", as_method(generate_icosphere_py), METH_FASTCALL | METH_KEYWORDS,
    "generate_icosphere(radius, centre, subdivisions)\n--\n\nGenerate icosphere primative"};
PyMethodDef generate_uvsphere_def = {
    "generate_uvsphere", as_method(generate_uvsphere_py), METH_FASTCALL | METH_KEYWORDS,
    "generate_uvsphere(radius, centre, sectors, stacks)\n--\n\nGenerate uv sphere primative"};
PyMethodDef generate_cylinder_def = {
    "generate_cylinder", as_method(generate_cylinder_py), METH_FASTCALL | METH_KEYWORDS,
    "generate_cylinder(radius, height, centre, sectors, stacks)\n--\n\n"
    "Generate cylinder primative"};
PyMethodDef generate_cone_def = {
    "generate_cone", as_method(generate_cone_py), METH_FASTCALL | METH_KEYWORDS,
    "generate_cone(radius, height, centre, sectors)\n--\n\nGenerate cone primative"};
PyMethodDef generate_capsule_def = {
    "generate_capsule", as_method(generate_capsule_py), METH_FASTCALL | METH_KEYWORDS,
    "generate_capsule(radius, cylinder_height, centre, sectors, stacks)\n--\n\n"
    "Generate capsule primative"};
PyMethodDef generate_torus_def = {
    "generate_torus", as_method(generate_torus_py), METH_FASTCALL | METH_KEYWORDS,
    "generate_torus(major_radius, minor_radius, centre, major_segments, minor_segments)\n--\n\n"
    "Generate torus primative"};
PyMethodDef generate_naca_wing_def = {
    "generate_naca_wing", as_method(generate_naca_wing_py), METH_FASTCALL | METH_KEYWORDS,
    "generate_naca_wing(maximum_camber, camber_distance, maximum_thickness, n_points, "
    "wing_span)\n--\n\nGenerate naca wing primative"};

FunctionRegistrar generate_box_registrar{&generate_box_def};
FunctionRegistrar generate_icosphere_registrar{&generate_icosphere_def};
FunctionRegistrar generate_uvsphere_registrar{&generate_uvsphere_def};
FunctionRegistrar generate_cylinder_registrar{&generate_cylinder_def};
FunctionRegistrar generate_cone_registrar{&generate_cone_def};
FunctionRegistrar generate_capsule_registrar{&generate_capsule_def};
FunctionRegistrar generate_torus_registrar{&generate_torus_def};
FunctionRegistrar generate_naca_wing_registrar{&generate_naca_wing_def};

}  // namespace
}  // namespace velk::py
