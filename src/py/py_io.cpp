// File functions of the module (write_stl, write_vtp, write_obj, read_stl, read_obj) and the
// file methods of Mesh (from_stl, from_obj, write_stl, write_obj, write_vtp). Reader and writer
// Errors are internal failures, except in from_stl and from_obj, which raise OSError.
#include "io/obj.hpp"
#include "io/stl.hpp"
#include "io/vtp.hpp"
#include "py/arguments.hpp"
#include "py/entry.hpp"
#include "py/py_mesh.hpp"
#include "py/results.hpp"

namespace velk::py {

namespace {

// Only the exact text "ascii" selects ASCII STL; anything else, or nothing, is binary.
io::StlFormat stl_format(const std::optional<std::string>& text) {
  return text && *text == "ascii" ? io::StlFormat::Ascii : io::StlFormat::Binary;
}

// ---- module functions ----

constexpr auto write_stl_entry =
    function("write_stl", {"nodes", "cells", "filename", "format"}, 2, "Write Ascii stl file",
             to_node_list, to_cell_list, optional(to_filename), optional(to_string));

const Binding write_stl_binding =
    function_binding<write_stl_entry>([](auto nodes, auto cells, auto filename, auto format) {
      unwrap(io::write_stl(nodes, cells, filename, stl_format(format)));
      return py_none();
    });

constexpr auto write_vtp_entry =
    function("write_vtp", {"nodes", "filename"}, 1, "Write Ascii vtp file", to_node_list,
             optional(to_filename));

const Binding write_vtp_binding = function_binding<write_vtp_entry>([](auto nodes, auto filename) {
  unwrap(io::write_vtp(nodes, filename));
  return py_none();
});

constexpr auto write_obj_entry =
    function("write_obj", {"nodes", "cells", "filename"}, 2, "Write obj file", to_node_list,
             to_cell_list, optional(to_filename));

const Binding write_obj_binding =
    function_binding<write_obj_entry>([](auto nodes, auto cells, auto filename) {
      unwrap(io::write_obj(nodes, cells, filename));
      return py_none();
    });

constexpr auto read_stl_entry = function("read_stl", {"filename"}, 1, "Read stl file", to_filename);

const Binding read_stl_binding = function_binding<read_stl_entry>(
    [](auto filename) { return py_mesh_lists(unwrap(io::read_stl(filename))); });

constexpr auto read_obj_entry = function("read_obj", {"filename"}, 1, "Read obj file", to_filename);

const Binding read_obj_binding = function_binding<read_obj_entry>(
    [](auto filename) { return py_mesh_lists(unwrap(io::read_obj(filename))); });

// ---- Mesh class methods: a plain Mesh, reader Errors as OSError ----

constexpr auto from_stl_entry = class_method("Mesh", "from_stl", {"filename"}, 1, "");
constexpr auto from_obj_entry = class_method("Mesh", "from_obj", {"filename"}, 1, "");

template <class E, class Reader>
Ref mesh_from_file(const E& entry, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames,
                   Reader&& read) {
  auto [filename_arg] = entry.bind(args, nargs, kwnames);
  std::string filename = to_filename(filename_arg);  // its failure is raised unchanged
  Result<Mesh> mesh = read(filename);
  if (!mesh) raise_os_error(mesh.error());
  return wrap_mesh(std::move(*mesh));
}

PyObject* mesh_from_stl(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  return guarded(from_stl_entry.callee(), [&] {
    return mesh_from_file(from_stl_entry, args, nargs, kwnames,
                          [](const std::string& name) { return io::read_stl(name); });
  });
}
const Binding from_stl_binding{from_stl_entry, mesh_from_stl};

PyObject* mesh_from_obj(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  return guarded(from_obj_entry.callee(), [&] {
    return mesh_from_file(from_obj_entry, args, nargs, kwnames,
                          [](const std::string& name) { return io::read_obj(name); });
  });
}
const Binding from_obj_binding{from_obj_entry, mesh_from_obj};

// ---- Mesh write methods: writer Errors are internal failures ----

constexpr auto mesh_write_stl_entry = method("Mesh", "write_stl", {"filename", "format"}, 0, "",
                                             optional(to_filename), optional(to_string));

const Binding mesh_write_stl_binding = method_binding<mesh_write_stl_entry, mesh_receiver>(
    [](const Mesh& mesh, auto filename, auto format) {
      unwrap(io::write_stl(mesh.nodes, mesh.cells, filename, stl_format(format)));
      return py_none();
    });

constexpr auto mesh_write_obj_entry =
    method("Mesh", "write_obj", {"filename"}, 0, "", optional(to_filename));

const Binding mesh_write_obj_binding =
    method_binding<mesh_write_obj_entry, mesh_receiver>([](const Mesh& mesh, auto filename) {
      unwrap(io::write_obj(mesh.nodes, mesh.cells, filename));
      return py_none();
    });

constexpr auto mesh_write_vtp_entry =
    method("Mesh", "write_vtp", {"filename"}, 0, "", optional(to_filename));

const Binding mesh_write_vtp_binding =
    method_binding<mesh_write_vtp_entry, mesh_receiver>([](const Mesh& mesh, auto filename) {
      unwrap(io::write_vtp(mesh.nodes, filename));
      return py_none();
    });

}  // namespace
}  // namespace velk::py
