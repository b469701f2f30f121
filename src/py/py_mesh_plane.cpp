// The plane methods of Mesh: slice_from_plane (section points, consecutive pairs are segments)
// and clip_from_plane (a new Mesh of the part on the normal's side).
#include "core/mesh_plane.hpp"
#include "py/arguments.hpp"
#include "py/entry.hpp"
#include "py/py_mesh.hpp"
#include "py/results.hpp"

namespace velk::py {
namespace {

constexpr auto slice_from_plane_entry =
    method("Mesh", "slice_from_plane", {"origin", "normal"}, 2, "", to_point3, to_point3);

const Binding slice_from_plane_binding = method_binding<slice_from_plane_entry, mesh_receiver>(
    [](const Mesh& mesh, auto origin, auto normal) {
      return py_node_list(unwrap(slice_from_plane(mesh, origin, normal)));
    });

constexpr auto clip_from_plane_entry =
    method("Mesh", "clip_from_plane", {"origin", "normal"}, 2, "", to_point3, to_point3);

const Binding clip_from_plane_binding = method_binding<clip_from_plane_entry, mesh_receiver>(
    [](const Mesh& mesh, auto origin, auto normal) {
      return wrap_mesh(clip_from_plane(mesh, origin, normal));
    });

}  // namespace
}  // namespace velk::py
