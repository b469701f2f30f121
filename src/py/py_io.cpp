// File functions of the module (write_stl, write_vtp, write_obj, read_stl, read_obj) and the
// file methods of Mesh (from_stl, from_obj, write_stl, write_obj, write_vtp). Reader and writer
// Errors are internal failures, except in from_stl and from_obj, which raise OSError.
#include "io/obj.hpp"
#include "io/stl.hpp"
#include "io/vtp.hpp"
#include "py/binder.hpp"
#include "py/convert.hpp"
#include "py/py_mesh.hpp"
#include "py/registry.hpp"

namespace velk::py {

namespace {

// Only the exact text "ascii" selects ASCII STL; anything else, or nothing, is binary.
io::StlFormat stl_format(const std::optional<std::string>& text) {
  return text && *text == "ascii" ? io::StlFormat::Ascii : io::StlFormat::Binary;
}

// ---- module functions ----

PyObject* write_stl_py(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  return guarded([&] {
    static constexpr Params<4> params{"write_stl()", {"nodes", "cells", "filename", "format"}, 2};
    auto [nodes, cells, filename, format] =
        convert_all(params, bind(params, args, nargs, kwnames), to_node_list, to_cell_list,
                    optional(to_filename), optional(to_string));
    unwrap(io::write_stl(nodes, cells, filename, stl_format(format)));
    return py_none();
  });
}

PyObject* write_vtp_py(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  return guarded([&] {
    static constexpr Params<2> params{"write_vtp()", {"nodes", "filename"}, 1};
    auto [nodes, filename] = convert_all(params, bind(params, args, nargs, kwnames), to_node_list,
                                         optional(to_filename));
    unwrap(io::write_vtp(nodes, filename));
    return py_none();
  });
}

PyObject* write_obj_py(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  return guarded([&] {
    static constexpr Params<3> params{"write_obj()", {"nodes", "cells", "filename"}, 2};
    auto [nodes, cells, filename] = convert_all(params, bind(params, args, nargs, kwnames),
                                                to_node_list, to_cell_list, optional(to_filename));
    unwrap(io::write_obj(nodes, cells, filename));
    return py_none();
  });
}

PyObject* read_stl_py(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  return guarded([&] {
    static constexpr Params<1> params{"read_stl()", {"filename"}, 1};
    auto [filename] = convert_all(params, bind(params, args, nargs, kwnames), to_filename);
    return py_mesh_lists(unwrap(io::read_stl(filename)));
  });
}

PyObject* read_obj_py(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  return guarded([&] {
    static constexpr Params<1> params{"read_obj()", {"filename"}, 1};
    auto [filename] = convert_all(params, bind(params, args, nargs, kwnames), to_filename);
    return py_mesh_lists(unwrap(io::read_obj(filename)));
  });
}

PyMethodDef write_stl_def = {
    "write_stl", as_method(write_stl_py), METH_FASTCALL | METH_KEYWORDS,
    "write_stl(nodes, cells, filename=None, format=None)\n--\n\nWrite Ascii stl file"};
PyMethodDef write_vtp_def = {"write_vtp", as_method(write_vtp_py), METH_FASTCALL | METH_KEYWORDS,
                             "write_vtp(nodes, filename=None)\n--\n\nWrite Ascii vtp file"};
PyMethodDef write_obj_def = {"write_obj", as_method(write_obj_py), METH_FASTCALL | METH_KEYWORDS,
                             "write_obj(nodes, cells, filename=None)\n--\n\nWrite obj file"};
PyMethodDef read_stl_def = {"read_stl", as_method(read_stl_py), METH_FASTCALL | METH_KEYWORDS,
                            "read_stl(filename)\n--\n\nRead stl file"};
PyMethodDef read_obj_def = {"read_obj", as_method(read_obj_py), METH_FASTCALL | METH_KEYWORDS,
                            "read_obj(filename)\n--\n\nRead obj file"};

FunctionRegistrar write_stl_registrar{&write_stl_def};
FunctionRegistrar write_vtp_registrar{&write_vtp_def};
FunctionRegistrar write_obj_registrar{&write_obj_def};
FunctionRegistrar read_stl_registrar{&read_stl_def};
FunctionRegistrar read_obj_registrar{&read_obj_def};

// ---- Mesh class methods: a plain Mesh, reader Errors as OSError ----

template <class Reader>
Ref mesh_from_file(const char* display, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames,
                   Reader&& read) {
  const Params<1> params{display, {"filename"}, 1};
  auto [filename_arg] = bind(params, args, nargs, kwnames);
  std::string filename = to_filename(filename_arg);  // its failure is raised unchanged
  Result<Mesh> mesh = read(filename);
  if (!mesh) raise_os_error(mesh.error());
  return wrap_mesh(std::move(*mesh));
}

PyObject* mesh_from_stl(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  return guarded([&] {
    return mesh_from_file("Mesh.from_stl()", args, nargs, kwnames,
                          [](const std::string& name) { return io::read_stl(name); });
  });
}

PyObject* mesh_from_obj(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  return guarded([&] {
    return mesh_from_file("Mesh.from_obj()", args, nargs, kwnames,
                          [](const std::string& name) { return io::read_obj(name); });
  });
}

// ---- Mesh write methods: writer Errors are internal failures ----

PyObject* mesh_write_stl(PyObject* self, PyObject* const* args, Py_ssize_t nargs,
                         PyObject* kwnames) {
  return guarded([&] {
    static constexpr Params<2> params{"Mesh.write_stl()", {"filename", "format"}, 0};
    const auto slots = bind(params, args, nargs, kwnames);
    Shared<Mesh> mesh(mesh_receiver(self));
    auto [filename, format] =
        convert_all(params, slots, optional(to_filename), optional(to_string));
    unwrap(io::write_stl(mesh->nodes, mesh->cells, filename, stl_format(format)));
    return py_none();
  });
}

PyObject* mesh_write_obj(PyObject* self, PyObject* const* args, Py_ssize_t nargs,
                         PyObject* kwnames) {
  return guarded([&] {
    static constexpr Params<1> params{"Mesh.write_obj()", {"filename"}, 0};
    const auto slots = bind(params, args, nargs, kwnames);
    Shared<Mesh> mesh(mesh_receiver(self));
    auto [filename] = convert_all(params, slots, optional(to_filename));
    unwrap(io::write_obj(mesh->nodes, mesh->cells, filename));
    return py_none();
  });
}

PyObject* mesh_write_vtp(PyObject* self, PyObject* const* args, Py_ssize_t nargs,
                         PyObject* kwnames) {
  return guarded([&] {
    static constexpr Params<1> params{"Mesh.write_vtp()", {"filename"}, 0};
    const auto slots = bind(params, args, nargs, kwnames);
    Shared<Mesh> mesh(mesh_receiver(self));
    auto [filename] = convert_all(params, slots, optional(to_filename));
    unwrap(io::write_vtp(mesh->nodes, filename));
    return py_none();
  });
}

PyMethodDef from_stl_def = {"from_stl", as_method(mesh_from_stl),
                            METH_FASTCALL | METH_KEYWORDS | METH_CLASS,
                            "from_stl($cls, filename)\n--\n\n"};
PyMethodDef from_obj_def = {"from_obj", as_method(mesh_from_obj),
                            METH_FASTCALL | METH_KEYWORDS | METH_CLASS,
                            "from_obj($cls, filename)\n--\n\n"};
PyMethodDef mesh_write_stl_def = {"write_stl", as_method(mesh_write_stl),
                                  METH_FASTCALL | METH_KEYWORDS,
                                  "write_stl($self, filename=None, format=None)\n--\n\n"};
PyMethodDef mesh_write_obj_def = {"write_obj", as_method(mesh_write_obj),
                                  METH_FASTCALL | METH_KEYWORDS,
                                  "write_obj($self, filename=None)\n--\n\n"};
PyMethodDef mesh_write_vtp_def = {"write_vtp", as_method(mesh_write_vtp),
                                  METH_FASTCALL | METH_KEYWORDS,
                                  "write_vtp($self, filename=None)\n--\n\n"};

MethodRegistrar from_stl_registrar{"Mesh", &from_stl_def};
MethodRegistrar from_obj_registrar{"Mesh", &from_obj_def};
MethodRegistrar mesh_write_stl_registrar{"Mesh", &mesh_write_stl_def};
MethodRegistrar mesh_write_obj_registrar{"Mesh", &mesh_write_obj_def};
MethodRegistrar mesh_write_vtp_registrar{"Mesh", &mesh_write_vtp_def};

}  // namespace
}  // namespace velk::py
