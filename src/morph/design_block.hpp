// The design block: the control lattice of free-form deformation, a rotated box filled with a
// regular grid of design nodes, with the derived geometry the deformer needs; which of its
// nodes a target mesh leaves free to move, and moved copies of its lattice.
#pragma once

#include <array>
#include <cstdint>
#include <optional>

#include "core/clusters.hpp"
#include "core/error.hpp"
#include "core/matrix.hpp"
#include "core/mesh.hpp"
#include "core/point.hpp"

namespace velk::morph {

struct DesignBlock {
  // Node (i, j, k) sits at index (i·(ny + 1) + j)·(nz + 1) + k: z fastest, then y, then x.
  NodeList nodes;
  Point3 length;  // edge lengths of the unrotated box
  Point3 centre;
  Point3 theta;  // rotation angles in degrees
  Resolution resolution;
  // Corner q = i + 2j + 4k, bit 0 meaning the minus side along that axis.
  std::array<Point3, 8> corners;
  Point3 inverse_lengths;  // (1/lx, 1/ly, 1/lz)
  // c0 − c0, c1 − c0, c2 − c0, c4 − c0: the origin and the three edges leaving corner c0.
  std::array<Point3, 4> frame_points;
};

// Builds the lattice with generate_block_cluster (whose MeshGeneration errors come back
// unchanged) and the derived geometry. A lattice too large for memory, counting
// caller_bytes_per_node for the caller's copy of each lattice node, throws
// sizes::MemoryRefused ("a (x, y, z) design block needs ...").
Result<DesignBlock> make_design_block(const Point3& length, const Point3& centre,
                                      const Point3& theta, const Resolution& resolution,
                                      uint64_t caller_bytes_per_node = 0);

// Indices, in increasing order, of the design nodes left free when every face of the block
// whose (unbounded) plane cuts target_mesh holds fixed_layers lattice layers (2 when absent).
// Fails with Deformation when a resolution component is below fixed_layers. fixed_layers = 0
// holds no layer, so every node is free.
Result<IndexList> select_free_design_nodes(const DesignBlock& block, const Mesh& target_mesh,
                                           std::optional<uint64_t> fixed_layers);

// A copy of the lattice with the listed nodes transformed about pivot; ids beyond the last node
// are skipped. The block itself is unchanged.
NodeList transform_subset(const DesignBlock& block, const IndexList& node_ids,
                          const Matrix4& transform_matrix, const Point3& pivot);

}  // namespace velk::morph
