// The Python classes DesignBlock (a control lattice, its free-node selection and moved copies)
// and FreeFormDeformer (deformation of points by a moved lattice).
#include "morph/design_block.hpp"
#include "morph/ffd.hpp"
#include "py/binder.hpp"
#include "py/class_support.hpp"
#include "py/py_mesh.hpp"
#include "py/registry.hpp"

namespace velk::py {

namespace {

using DesignBlockInstance = Instance<DesignBlock>;
using DeformerInstance = Instance<FreeFormDeformer>;

PyTypeObject* design_block_type();
PyTypeObject* deformer_type();

DesignBlockInstance* block_receiver(PyObject* self) {
  return receiver<DesignBlock>(self, design_block_type(), "DesignBlock");
}

DeformerInstance* deformer_receiver(PyObject* self) {
  return receiver<FreeFormDeformer>(self, deformer_type(), "FreeFormDeformer");
}

// ---- DesignBlock ----

PyObject* design_block_new(PyTypeObject* type, PyObject* args, PyObject* kwargs) {
  return guarded([&] {
    static constexpr Params<4> params{
        "DesignBlock.__new__()", {"length", "centre", "theta", "resolution"}, 4};
    auto [length, centre, theta, resolution] = convert_all(
        params, bind(params, args, kwargs), to_point3, to_point3, to_point3, to_resolution);
    return new_instance(
        type, unwrap(make_design_block(length, centre, theta, resolution, kPythonNodeBytes)));
  });
}

PyObject* get_block_nodes(PyObject* self, void*) {
  return guarded([&] {
    Shared<DesignBlock> block(block_receiver(self));
    return py_node_list(block->nodes);
  });
}

PyObject* get_block_length(PyObject* self, void*) {
  return guarded([&] {
    Shared<DesignBlock> block(block_receiver(self));
    return py_point3(block->length);
  });
}

PyObject* get_block_centre(PyObject* self, void*) {
  return guarded([&] {
    Shared<DesignBlock> block(block_receiver(self));
    return py_point3(block->centre);
  });
}

PyObject* get_block_theta(PyObject* self, void*) {
  return guarded([&] {
    Shared<DesignBlock> block(block_receiver(self));
    return py_point3(block->theta);
  });
}

PyObject* get_block_resolution(PyObject* self, void*) {
  return guarded([&] {
    Shared<DesignBlock> block(block_receiver(self));
    const Resolution& r = block->resolution;
    return py_triangle({r.x, r.y, r.z});
  });
}

PyObject* select_free_design_nodes_py(PyObject* self, PyObject* const* args, Py_ssize_t nargs,
                                      PyObject* kwnames) {
  return guarded([&] {
    static constexpr Params<2> params{
        "DesignBlock.select_free_design_nodes()", {"target_mesh", "fixed_layers"}, 1};
    auto [mesh_arg, layers_arg] = bind(params, args, nargs, kwnames);
    Shared<DesignBlock> block(block_receiver(self));
    const std::optional<uint64_t> fixed_layers =
        arg("fixed_layers", layers_arg, optional(to_unsigned));
    // Checked here rather than through arg(): its TypeError does not name the argument. The
    // mesh is read in place for the call, not copied.
    Shared<Mesh> target_mesh(mesh_receiver(mesh_arg));
    return py_index_list(unwrap_or_raise(
        select_free_design_nodes(*block, *target_mesh, fixed_layers), PyExc_ValueError));
  });
}

PyObject* transform_subset_py(PyObject* self, PyObject* const* args, Py_ssize_t nargs,
                              PyObject* kwnames) {
  return guarded([&] {
    static constexpr Params<3> params{
        "DesignBlock.transform_subset()", {"node_ids", "transform_matrix", "pivot"}, 3};
    const auto slots = bind(params, args, nargs, kwnames);
    Shared<DesignBlock> block(block_receiver(self));
    auto [node_ids, matrix, pivot] =
        convert_all(params, slots, to_index_list, to_matrix, to_point3);
    return py_node_list(transform_subset(*block, node_ids, matrix, pivot));
  });
}

PyMethodDef select_free_def = {
    "select_free_design_nodes", as_method(select_free_design_nodes_py),
    METH_FASTCALL | METH_KEYWORDS,
    "select_free_design_nodes($self, target_mesh, fixed_layers=None)\n--\n\n"};
PyMethodDef transform_subset_def = {
    "transform_subset", as_method(transform_subset_py), METH_FASTCALL | METH_KEYWORDS,
    "transform_subset($self, node_ids, transform_matrix, pivot)\n--\n\n"};

PyMethodDef block_methods[] = {
    select_free_def, transform_subset_def, {nullptr, nullptr, 0, nullptr}};

PyGetSetDef block_getset[] = {
    {"nodes", get_block_nodes, nullptr, nullptr, nullptr},
    {"length", get_block_length, nullptr, nullptr, nullptr},
    {"centre", get_block_centre, nullptr, nullptr, nullptr},
    {"theta", get_block_theta, nullptr, nullptr, nullptr},
    {"resolution", get_block_resolution, nullptr, nullptr, nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

PyTypeObject* design_block_type() {
  static PyTypeObject* type = nullptr;
  if (!type)
    type = create_class<DesignBlock>("builtins.DesignBlock",
                                     "DesignBlock(length, centre, theta, resolution)\n--\n\n",
                                     {{Py_tp_getset, block_getset},
                                      {Py_tp_methods, block_methods},
                                      {Py_tp_new, reinterpret_cast<void*>(design_block_new)}});
  return type;
}

// ---- FreeFormDeformer ----

PyObject* deformer_new(PyTypeObject* type, PyObject* args, PyObject* kwargs) {
  return guarded([&] {
    static constexpr Params<1> params{"FreeFormDeformer.__new__()", {"original_design_block"}, 1};
    auto [block_arg] = bind(params, args, kwargs);
    const DesignBlock block = convert_or_panic(
        [&] { return copy_instance<DesignBlock>(block_arg, design_block_type(), "DesignBlock"); });
    return new_instance(type, unwrap(make_free_form_deformer(block)));
  });
}

PyObject* deform_py(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  return guarded([&] {
    static constexpr Params<2> params{
        "FreeFormDeformer.deform()", {"points", "deformed_design_nodes"}, 2};
    const auto slots = bind(params, args, nargs, kwnames);
    Shared<FreeFormDeformer> deformer(deformer_receiver(self));
    auto [points, moved] = convert_all(params, slots, to_node_list, to_node_list);
    return py_node_list(
        unwrap_or_raise(deform(*deformer, std::move(points), moved), PyExc_ValueError));
  });
}

PyMethodDef ffd_deform_def = {"deform", as_method(deform_py), METH_FASTCALL | METH_KEYWORDS,
                              "deform($self, points, deformed_design_nodes)\n--\n\n"};

PyMethodDef deformer_methods[] = {ffd_deform_def, {nullptr, nullptr, 0, nullptr}};

PyTypeObject* deformer_type() {
  static PyTypeObject* type = nullptr;
  if (!type)
    type = create_class<FreeFormDeformer>(
        "builtins.FreeFormDeformer", "FreeFormDeformer(original_design_block)\n--\n\n",
        {{Py_tp_methods, deformer_methods}, {Py_tp_new, reinterpret_cast<void*>(deformer_new)}});
  return type;
}

ClassRegistrar design_block_registrar{"DesignBlock", design_block_type};
ClassRegistrar deformer_registrar{"FreeFormDeformer", deformer_type};

}  // namespace

}  // namespace velk::py
