// The plane methods of Mesh: slice_from_plane (section points, consecutive pairs are segments)
// and clip_from_plane (a new Mesh of the part on the normal's side).
#include "core/mesh_plane.hpp"
#include "py/binder.hpp"
#include "py/convert.hpp"
#include "py/error_route.hpp"
#include "py/py_mesh.hpp"
#include "py/registry.hpp"

namespace velk::py {
namespace {

PyObject* slice_from_plane_py(PyObject* self, PyObject* const* args, Py_ssize_t nargs,
                              PyObject* kwnames) {
  return guarded([&] {
    static constexpr Params<2> params{"Mesh.slice_from_plane()", {"origin", "normal"}, 2};
    const auto slots = bind(params, args, nargs, kwnames);
    Shared<Mesh> mesh(mesh_receiver(self));
    auto [origin, normal] = convert_all(params, slots, to_point3, to_point3);
    return py_node_list(unwrap(slice_from_plane(*mesh, origin, normal)));
  });
}

PyObject* clip_from_plane_py(PyObject* self, PyObject* const* args, Py_ssize_t nargs,
                             PyObject* kwnames) {
  return guarded([&] {
    static constexpr Params<2> params{"Mesh.clip_from_plane()", {"origin", "normal"}, 2};
    const auto slots = bind(params, args, nargs, kwnames);
    Shared<Mesh> mesh(mesh_receiver(self));
    auto [origin, normal] = convert_all(params, slots, to_point3, to_point3);
    return wrap_mesh(clip_from_plane(*mesh, origin, normal));
  });
}

PyMethodDef slice_from_plane_def = {"slice_from_plane", as_method(slice_from_plane_py),
                                    METH_FASTCALL | METH_KEYWORDS,
                                    "slice_from_plane($self, origin, normal)\n--\n\n"};
PyMethodDef clip_from_plane_def = {"clip_from_plane", as_method(clip_from_plane_py),
                                   METH_FASTCALL | METH_KEYWORDS,
                                   "clip_from_plane($self, origin, normal)\n--\n\n"};

MethodRegistrar slice_from_plane_registrar{"Mesh", &slice_from_plane_def};
MethodRegistrar clip_from_plane_registrar{"Mesh", &clip_from_plane_def};

}  // namespace
}  // namespace velk::py
