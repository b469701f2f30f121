// The dense linear solver: LU factorisation with partial pivoting and the solve of A·X = B
// whose right-hand-side entries are small vectors (Point3 or VectorN). Failures are message
// strings; callers wrap them into Errors.
#pragma once

#include <cstddef>
#include <expected>
#include <functional>
#include <string>
#include <vector>

#include "interp/row_matrix.hpp"
#include "interp/solver_vectors.hpp"

namespace velk::interp {

// n rows of floats, each row a separately owned sequence (swapping rows swaps handles).
using DenseMatrix = std::vector<std::vector<double>>;

// L (unit diagonal, not stored) below the diagonal and U on and above it, sharing storage;
// perm[i] is the input row that ended at position i.
struct LuFactors {
  RowMatrix lu;
  std::vector<std::size_t> perm;
};

// Doolittle elimination with partial pivoting by rows. Only the pivots of columns 0 to n-2 are
// tested against an exact zero ("Exact zero pivot encountered at column k"). Pivots are taken
// in panels and the trailing updates run on the worker pool in register tiles, with the same
// bits as the one-pivot-at-a-time loop. The matrix is taken by value and factorised in place.
std::expected<LuFactors, std::string> lu_decompose(RowMatrix matrix);
// The same elimination with every trailing update fused into one multiply-subtract (rounded
// once): faster, with other bits than lu_decompose. For fits not bound to velk's fixed order.
// after_panel, when given, is called on the calling thread each time the pivot columns before
// its argument are final (growing, n - 1 at the end); an exception from it ends the
// factorisation.
std::expected<LuFactors, std::string> lu_decompose_fused(
    RowMatrix matrix, const std::function<void(std::size_t columns)>& after_panel = {});

// Solves matrix · x = rhs for one value of V per row, V being Point3 or VectorN. Rows are
// equilibrated by their absolute sums when row_max × col_max exceeds 1e5. Fails with
// "Design matrix and RHS must be non-empty and the same length.", a zero-pivot message, or
// "NaN detected in backward substitution at index i". A non-square matrix is refused with
// "Design matrix must be square." (no caller passes one).
template <class V>
std::expected<std::vector<V>, std::string> solve_linear_system(const DenseMatrix& matrix,
                                                               const std::vector<V>& rhs);
// The same, factorising the given matrix in place of a copy. symmetric promises that
// matrix[i][j] and matrix[j][i] are the same double, so the column sums are the row sums.
template <class V>
std::expected<std::vector<V>, std::string> solve_linear_system(RowMatrix&& matrix,
                                                               const std::vector<V>& rhs,
                                                               bool symmetric);

extern template std::expected<std::vector<Point3>, std::string> solve_linear_system(
    const DenseMatrix&, const std::vector<Point3>&);
extern template std::expected<std::vector<VectorN>, std::string> solve_linear_system(
    const DenseMatrix&, const std::vector<VectorN>&);
extern template std::expected<std::vector<Point3>, std::string> solve_linear_system(
    RowMatrix&&, const std::vector<Point3>&, bool);
extern template std::expected<std::vector<VectorN>, std::string> solve_linear_system(
    RowMatrix&&, const std::vector<VectorN>&, bool);

}  // namespace velk::interp
