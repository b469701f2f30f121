// The Python classes DesignBlock (a control lattice, its free-node selection and moved copies)
// and FreeFormDeformer (deformation of points by a moved lattice).
#include <optional>

#include "morph/design_block.hpp"
#include "morph/ffd.hpp"
#include "py/class_support.hpp"
#include "py/entry.hpp"
#include "py/py_mesh.hpp"
#include "py/registry.hpp"
#include "py/results.hpp"

namespace velk::py {

namespace {

using DesignBlockInstance = Instance<morph::DesignBlock>;
using DeformerInstance = Instance<morph::FreeFormDeformer>;

PyTypeObject* create_design_block_type();
PyTypeObject* create_deformer_type();

PyTypeObject* design_block_type() {
  return lazy_type<create_design_block_type>();
}
PyTypeObject* deformer_type() {
  return lazy_type<create_deformer_type>();
}

DesignBlockInstance* block_receiver(PyObject* self) {
  return receiver<morph::DesignBlock>(self, design_block_type(), "DesignBlock");
}

DeformerInstance* deformer_receiver(PyObject* self) {
  return receiver<morph::FreeFormDeformer>(self, deformer_type(), "FreeFormDeformer");
}

// ---- DesignBlock ----

constexpr auto design_block_new_entry =
    constructor("DesignBlock", {"length", "centre", "theta", "resolution"}, 4, "", to_point3,
                to_point3, to_point3, to_resolution);

PyObject* design_block_new(PyTypeObject* type, PyObject* args, PyObject* kwargs) {
  return guarded(design_block_new_entry.callee(), [&] {
    auto [length, centre, theta, resolution] = design_block_new_entry.parse(args, kwargs);
    return new_instance(type, unwrap(morph::make_design_block(length, centre, theta, resolution,
                                                              budget::kNodeBytes)));
  });
}

// Converted in the body: fixed_layers after the receiver check, target_mesh read in place.
constexpr auto select_free_entry =
    method("DesignBlock", "select_free_design_nodes", {"target_mesh", "fixed_layers"}, 1, "");

PyObject* select_free_design_nodes_py(PyObject* self, PyObject* const* args, Py_ssize_t nargs,
                                      PyObject* kwnames) {
  return guarded(select_free_entry.callee(), [&] {
    auto [mesh_arg, layers_arg] = select_free_entry.bind(args, nargs, kwnames);
    Shared<morph::DesignBlock> block(block_receiver(self));
    const std::optional<uint64_t> fixed_layers =
        arg("fixed_layers", layers_arg, optional(to_unsigned));
    // Checked here rather than through arg(): its TypeError does not name the argument. The
    // mesh is read in place for the call, not copied.
    Shared<Mesh> target_mesh(mesh_receiver(mesh_arg));
    return py_index_list(unwrap_or_raise(
        morph::select_free_design_nodes(*block, *target_mesh, fixed_layers), PyExc_ValueError));
  });
}
const Binding select_free_binding{select_free_entry, select_free_design_nodes_py};

constexpr auto transform_subset_entry =
    method("DesignBlock", "transform_subset", {"node_ids", "transform_matrix", "pivot"}, 3, "",
           to_index_list, to_matrix, to_point3);

const Binding transform_subset_binding = method_binding<transform_subset_entry, block_receiver>(
    [](const morph::DesignBlock& block, auto node_ids, auto matrix, auto pivot) {
      return py_node_list(morph::transform_subset(block, node_ids, matrix, pivot));
    });

// The properties, each read through Shared.
PyGetSetDef block_getset[] = {
    read_only("nodes", member_getter<block_receiver, &morph::DesignBlock::nodes, py_node_list>),
    read_only("length", member_getter<block_receiver, &morph::DesignBlock::length, py_point3>),
    read_only("centre", member_getter<block_receiver, &morph::DesignBlock::centre, py_point3>),
    read_only("theta", member_getter<block_receiver, &morph::DesignBlock::theta, py_point3>),
    read_only("resolution", getter<block_receiver,
                                   +[](const morph::DesignBlock& b) {
                                     const Resolution& r = b.resolution;
                                     return py_triangle({r.x, r.y, r.z});
                                   }>),
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

PyTypeObject* create_design_block_type() {
  return create_class_of<morph::DesignBlock, design_block_new_entry>(
      design_block_new, {"select_free_design_nodes", "transform_subset"},
      {{Py_tp_getset, block_getset}});
}

// ---- FreeFormDeformer ----

// The block is converted in the body: its failure takes the internal-failure route.
constexpr auto deformer_new_entry =
    constructor("FreeFormDeformer", {"original_design_block"}, 1, "");

PyObject* deformer_new(PyTypeObject* type, PyObject* args, PyObject* kwargs) {
  return guarded(deformer_new_entry.callee(), [&] {
    auto [block_arg] = deformer_new_entry.bind(args, kwargs);
    const morph::DesignBlock block = convert_or_panic([&] {
      return copy_instance<morph::DesignBlock>(block_arg, design_block_type(), "DesignBlock");
    });
    return new_instance(type, unwrap(morph::make_free_form_deformer(block)));
  });
}

constexpr auto deform_entry =
    method("FreeFormDeformer", "deform", {"points", "deformed_design_nodes"}, 2, "", to_node_list,
           to_node_list);

const Binding deform_binding = method_binding<deform_entry, deformer_receiver>(
    [](const morph::FreeFormDeformer& deformer, auto points, auto moved) {
      // The result list is built while the pool still deforms the points behind it; it is
      // made on the first news, once the call's checks have passed.
      const std::size_t size = points.size();
      std::optional<StagedNodeList> result;
      unwrap_or_raise(morph::deform(deformer, std::move(points), moved,
                                    [&](const Point3* done, std::size_t ready) {
                                      if (!result) result.emplace(size);
                                      result->build_to(done, ready);
                                    }),
                      PyExc_ValueError);
      return result->take();
    });

PyTypeObject* create_deformer_type() {
  return create_class_of<morph::FreeFormDeformer, deformer_new_entry>(deformer_new, {"deform"});
}

ClassRegistrar design_block_registrar{"DesignBlock", design_block_type};
ClassRegistrar deformer_registrar{"FreeFormDeformer", deformer_type};

}  // namespace

}  // namespace velk::py
