// The module functions generate_block_cluster and generate_sphere_cluster: node clouds as lists
// of [x, y, z]; a generator's MeshGeneration error is an internal failure.
#include "core/clusters.hpp"
#include "py/convert.hpp"
#include "py/entry.hpp"

namespace velk::py {

namespace {

constexpr auto generate_block_cluster_entry =
    function("generate_block_cluster", {"length", "centre", "theta", "resolution"}, 4,
             "Generate block node cluster", to_point3, to_point3, to_point3, to_resolution);

PyObject* generate_block_cluster_py(PyObject*, PyObject* const* args, Py_ssize_t nargs,
                                    PyObject* kwnames) {
  return guarded([&] {
    auto [length, centre, theta, resolution] =
        generate_block_cluster_entry.parse(args, nargs, kwnames);
    return py_node_list(
        unwrap(generate_block_cluster(length, centre, theta, resolution, {kPythonNodeBytes})));
  });
}
const Binding generate_block_cluster_binding{generate_block_cluster_entry,
                                             generate_block_cluster_py};

constexpr auto generate_sphere_cluster_entry =
    function("generate_sphere_cluster", {"radius", "centre", "resolution"}, 3,
             "Generate sphere node cluster", to_float, to_point3, to_unsigned);

PyObject* generate_sphere_cluster_py(PyObject*, PyObject* const* args, Py_ssize_t nargs,
                                     PyObject* kwnames) {
  return guarded([&] {
    auto [radius, centre, resolution] = generate_sphere_cluster_entry.parse(args, nargs, kwnames);
    return py_node_list(
        unwrap(generate_sphere_cluster(radius, centre, resolution, kPythonNodeBytes)));
  });
}
const Binding generate_sphere_cluster_binding{generate_sphere_cluster_entry,
                                              generate_sphere_cluster_py};

}  // namespace

}  // namespace velk::py
