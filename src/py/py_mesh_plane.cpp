// The plane methods of Mesh: slice_from_plane (section points, consecutive pairs are segments)
// and clip_from_plane (a new Mesh of the part on the normal's side).
#include "core/mesh_plane.hpp"
#include "py/convert.hpp"
#include "py/entry.hpp"
#include "py/py_mesh.hpp"

namespace velk::py {
namespace {

constexpr auto slice_from_plane_entry =
    method("Mesh", "slice_from_plane", {"origin", "normal"}, 2, "", to_point3, to_point3);

PyObject* slice_from_plane_py(PyObject* self, PyObject* const* args, Py_ssize_t nargs,
                              PyObject* kwnames) {
  return guarded([&] {
    const auto slots = slice_from_plane_entry.bind(args, nargs, kwnames);
    Shared<Mesh> mesh(mesh_receiver(self));
    auto [origin, normal] = slice_from_plane_entry.convert(slots);
    return py_node_list(unwrap(slice_from_plane(*mesh, origin, normal)));
  });
}
const Binding slice_from_plane_binding{slice_from_plane_entry, slice_from_plane_py};

constexpr auto clip_from_plane_entry =
    method("Mesh", "clip_from_plane", {"origin", "normal"}, 2, "", to_point3, to_point3);

PyObject* clip_from_plane_py(PyObject* self, PyObject* const* args, Py_ssize_t nargs,
                             PyObject* kwnames) {
  return guarded([&] {
    const auto slots = clip_from_plane_entry.bind(args, nargs, kwnames);
    Shared<Mesh> mesh(mesh_receiver(self));
    auto [origin, normal] = clip_from_plane_entry.convert(slots);
    return wrap_mesh(clip_from_plane(*mesh, origin, normal));
  });
}
const Binding clip_from_plane_binding{clip_from_plane_entry, clip_from_plane_py};

}  // namespace
}  // namespace velk::py
