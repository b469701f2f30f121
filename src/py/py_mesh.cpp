// The Python class Mesh: constructor, nodes and cells properties, triangles, cell_normals and
// the boxed representation. Plane and file methods are registered by their own files.
#include "py/py_mesh.hpp"

#include <string>

#include "py/entry.hpp"
#include "py/registry.hpp"
#include "py/results.hpp"

namespace velk::py {

namespace {

constexpr auto mesh_new_entry =
    constructor("Mesh", {"nodes", "cells"}, 2, "Mesh", to_node_list, to_cell_list);

PyObject* mesh_new(PyTypeObject* type, PyObject* args, PyObject* kwargs) {
  return guarded(mesh_new_entry.callee(), [&] {
    auto [nodes, cells] = mesh_new_entry.parse(args, kwargs);
    return new_instance(type, Mesh{std::move(nodes), std::move(cells)});
  });
}

constexpr auto triangles_entry = method("Mesh", "triangles", "");

const Binding triangles_binding = method_binding<triangles_entry, mesh_receiver>(
    [](const Mesh& mesh) { return py_corner_triples(triangles(mesh)); });

constexpr auto cell_normals_entry = method("Mesh", "cell_normals", "");

const Binding cell_normals_binding = method_binding<cell_normals_entry, mesh_receiver>(
    [](const Mesh& mesh) { return py_node_list(cell_normals(mesh)); });

// One 50-column line: left border, text padded with spaces to 48 characters, right border.
std::string box_line(const char* left, const std::string& text, const char* right) {
  return left + text + std::string(text.size() < 48 ? 48 - text.size() : 0, ' ') + right;
}

std::string rule(const char* left, const char* fill, const char* right) {
  std::string line = left;
  for (int i = 0; i < 48; ++i) line += fill;
  return line + right;
}

PyObject* mesh_repr(PyObject* self) {
  return guarded(Callee{"Mesh", "__repr__"}, [&] {
    Shared<Mesh> mesh(mesh_receiver(self));
    std::string text = rule("┌", "─", "┐") + "\n" + box_line("│", "Mesh", "│") + "\n" +
                       rule("╞", "═", "╡") + "\n" +
                       box_line("│", "Nodes: " + std::to_string(mesh->nodes.size()), "│") + "\n" +
                       box_line("│", "Faces: " + std::to_string(mesh->cells.size()), "│") + "\n" +
                       rule("└", "─", "┘");
    return Ref::steal(
        PyUnicode_FromStringAndSize(text.data(), static_cast<Py_ssize_t>(text.size())));
  });
}

PyGetSetDef getset[] = {
    property_row("nodes", member_getter<mesh_receiver, &Mesh::nodes, py_node_list>,
                 member_setter<mesh_receiver, &Mesh::nodes, to_node_list>),
    property_row("cells", member_getter<mesh_receiver, &Mesh::cells, py_cell_list>,
                 member_setter<mesh_receiver, &Mesh::cells, to_cell_list>),
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

PyTypeObject* create_mesh_type() {
  return create_class_of<Mesh, mesh_new_entry>(
      mesh_new,
      {"from_stl", "from_obj", "triangles", "cell_normals", "slice_from_plane", "clip_from_plane",
       "write_stl", "write_obj", "write_vtp"},
      {{Py_tp_getset, getset}, {Py_tp_repr, reinterpret_cast<void*>(mesh_repr)}});
}

ClassRegistrar mesh_registrar{"Mesh", mesh_type};

}  // namespace

PyTypeObject* mesh_type() {
  return lazy_type<create_mesh_type>();
}

MeshInstance* mesh_receiver(PyObject* self) {
  return receiver<Mesh>(self, mesh_type(), "Mesh");
}

Ref wrap_mesh(Mesh mesh) {
  return new_instance(mesh_type(), std::move(mesh));
}

}  // namespace velk::py
