// The module functions generate_block_cluster and generate_sphere_cluster: node clouds as lists
// of [x, y, z]; a generator's MeshGeneration error is an internal failure.
#include "core/clusters.hpp"
#include "py/arguments.hpp"
#include "py/entry.hpp"
#include "py/results.hpp"

namespace velk::py {

namespace {

constexpr auto generate_block_cluster_entry =
    function("generate_block_cluster", {"length", "centre", "theta", "resolution"}, 4,
             "Generate block node cluster", to_point3, to_point3, to_point3, to_resolution);

const Binding generate_block_cluster_binding = function_binding<generate_block_cluster_entry>(
    [](auto length, auto centre, auto theta, auto resolution) {
      return py_node_list(
          unwrap(generate_block_cluster(length, centre, theta, resolution, budget::kNodeBytes)));
    });

constexpr auto generate_sphere_cluster_entry =
    function("generate_sphere_cluster", {"radius", "centre", "resolution"}, 3,
             "Generate sphere node cluster", to_float, to_point3, to_unsigned);

const Binding generate_sphere_cluster_binding =
    function_binding<generate_sphere_cluster_entry>([](auto radius, auto centre, auto resolution) {
      return py_node_list(
          unwrap(generate_sphere_cluster(radius, centre, resolution, budget::kNodeBytes)));
    });

}  // namespace

}  // namespace velk::py
