// The module functions generate_block_cluster and generate_sphere_cluster: node clouds as lists
// of [x, y, z]; a generator's MeshGeneration error is an internal failure.
#include "core/clusters.hpp"
#include "py/binder.hpp"
#include "py/convert.hpp"
#include "py/error_route.hpp"
#include "py/registry.hpp"

namespace velk::py {

namespace {

PyObject* generate_block_cluster_py(PyObject*, PyObject* const* args, Py_ssize_t nargs,
                                    PyObject* kwnames) {
  return guarded([&] {
    static constexpr Params<4> params{
        "generate_block_cluster()", {"length", "centre", "theta", "resolution"}, 4};
    auto [length, centre, theta, resolution] = convert_all(
        params, bind(params, args, nargs, kwnames), to_point3, to_point3, to_point3, to_resolution);
    return py_node_list(
        unwrap(generate_block_cluster(length, centre, theta, resolution, {kPythonNodeBytes})));
  });
}

PyObject* generate_sphere_cluster_py(PyObject*, PyObject* const* args, Py_ssize_t nargs,
                                     PyObject* kwnames) {
  return guarded([&] {
    static constexpr Params<3> params{
        "generate_sphere_cluster()", {"radius", "centre", "resolution"}, 3};
    auto [radius, centre, resolution] =
        convert_all(params, bind(params, args, nargs, kwnames), to_float, to_point3, to_unsigned);
    return py_node_list(
        unwrap(generate_sphere_cluster(radius, centre, resolution, kPythonNodeBytes)));
  });
}

PyMethodDef block_cluster_def = {
    "generate_block_cluster", as_method(generate_block_cluster_py), METH_FASTCALL | METH_KEYWORDS,
    "generate_block_cluster(length, centre, theta, resolution)\n--\n\nGenerate block node cluster"};
PyMethodDef sphere_cluster_def = {
    "generate_sphere_cluster", as_method(generate_sphere_cluster_py), METH_FASTCALL | METH_KEYWORDS,
    "generate_sphere_cluster(radius, centre, resolution)\n--\n\nGenerate sphere node cluster"};

FunctionRegistrar block_cluster_registrar{&block_cluster_def};
FunctionRegistrar sphere_cluster_registrar{&sphere_cluster_def};

}  // namespace

}  // namespace velk::py
