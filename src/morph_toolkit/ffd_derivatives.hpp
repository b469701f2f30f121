// Exact derivatives of free-form deformation with respect to the moved lattice nodes. The
// deformed point is linear in the moved nodes: dr(p)/dP'_i = B_i(s, t, u) M, with the Bernstein
// weight B_i of node i at the point's lattice parameters and one constant 3 x 3 matrix
// M = F^T diag(inverse_lengths) Rb (F: the linear part of the map from the unit cube back to
// space, Rb: the rotation back to the block's own axes). Points outside the block do not move,
// so their rows are zero. Points and products are flat row-major (n, 3) arrays.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "core/matrix.hpp"
#include "morph/ffd.hpp"

namespace velk::toolkit {

// The deformer and what its derivatives share: M and the lattice size.
struct FfdDerivatives {
  explicit FfdDerivatives(morph::FreeFormDeformer deformer);

  morph::FreeFormDeformer deformer;
  Matrix3 m;  // dr/dP'_i = B_i M
  std::size_t node_count() const { return deformer.block.nodes.size(); }
};

// velk's deformation of the points by the moved lattice (moved_nodes: node_count() rows), bit
// for bit; the caller has checked the row count.
std::vector<double> ffd_deform(const FfdDerivatives& ffd, std::span<const double> points,
                               std::span<const double> moved_nodes);

// The derivative of the deformed points in the direction `tangent` of the lattice nodes
// (node_count() rows): sum_i B_i(p) M T_i per point, zero outside the block.
std::vector<double> ffd_jvp(const FfdDerivatives& ffd, std::span<const double> points,
                            std::span<const double> tangent);

// The gradient with respect to the lattice nodes of <deformed points, cotangent> (one cotangent
// row per point): M^T sum_p B_i(p) V_p per node. The points are summed in blocks of a fixed
// size, each block in point order and the blocks in order, so the bits do not depend on the
// number of threads.
std::vector<double> ffd_vjp(const FfdDerivatives& ffd, std::span<const double> points,
                            std::span<const double> cotangent);

// A compressed-sparse-row matrix of shape (rows, cols): the entries of row r are
// values[row_start[r] .. row_start[r + 1]) in columns columns[...], ascending.
struct SparseRows {
  std::size_t rows = 0, cols = 0;
  std::vector<int64_t> row_start;
  std::vector<int32_t> columns;
  std::vector<double> values;
};

// The Jacobian of the deformed points with respect to the listed lattice nodes: row 3p + a,
// column 3j + b holds B_{node_ids[j]}(p) M[a][b]; exact zeros are not stored, so points outside
// the block have empty rows. The caller has checked the ids. Throws MemoryRefusal, naming the
// size and pointing to the products, when the matrix would not fit in memory.
SparseRows ffd_jacobian(const FfdDerivatives& ffd, std::span<const double> points,
                        std::span<const int64_t> node_ids);

}  // namespace velk::toolkit
