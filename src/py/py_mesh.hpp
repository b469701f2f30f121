// The Python class Mesh: its type and the helpers other binding files use to read and return
// meshes.
#pragma once

#include "core/mesh.hpp"
#include "py/class_support.hpp"

namespace velk::py {

using MeshInstance = Instance<Mesh>;

// The Mesh type, created on first use (borrowed reference, lives for the process).
PyTypeObject* mesh_type();

// The receiver of a Mesh method, or a Mesh argument read in place (through Shared).
MeshInstance* mesh_receiver(PyObject* self);

// A new Mesh instance owning mesh.
Ref wrap_mesh(Mesh mesh);

}  // namespace velk::py
