// The free-form deformer: moves points inside a design block by a trivariate Bernstein blend
// of the displacements of its lattice nodes; points outside come back unchanged.
#pragma once

#include <functional>

#include "core/error.hpp"
#include "core/matrix.hpp"
#include "core/point.hpp"
#include "morph/design_block.hpp"

namespace velk::morph {

// Matrices here are in row-vector form: (x, y, z, 1)·F, column 3 unused.
struct FreeFormDeformer {
  DesignBlock block;        // a copy of the original, unmoved block
  Matrix4 to_unit_frame;    // block coordinates relative to corner c0 → unit cube
  Matrix4 from_unit_frame;  // unit cube → block coordinates relative to c0
};

// Fits the two frame maps by least squares; a solver failure is returned unchanged (Custom).
Result<FreeFormDeformer> make_free_form_deformer(const DesignBlock& block);

// The points with every point inside the block (parameters in [0, 1]³, bounds included)
// displaced by the blend of the moved lattice; every other point is returned bit for bit.
// Fails with Deformation unless deformed_design_nodes holds exactly one node per lattice node.
// The points are deformed in place (pass an rvalue to spare the copy), on the worker pool and
// with vector kernels, with the same bits as one point at a time.
// ready, when given, is told on the calling thread, in order, how many leading points are final
// (points[0, ready) at the points' address), while the pool still works on the others and once
// more at the end with all of them, so a caller can start using them at once. The pool then
// runs one task fewer, and the calling thread deforms points itself whenever nothing new is
// ready.
using ReadyPoints = std::function<void(const Point3* points, std::size_t ready)>;
Result<NodeList> deform(const FreeFormDeformer& deformer, NodeList points,
                        const NodeList& deformed_design_nodes, const ReadyPoints& ready = {});

}  // namespace velk::morph
