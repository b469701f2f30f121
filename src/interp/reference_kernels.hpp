// The loops the vectorised and parallel RBF and LU kernels replaced, kept as the reference the
// tests compare them with bit for bit: the kernel matrix and the prediction one entry at a time,
// the factorisation in pivot blocks with its row updates on the pool. kernels() (kernel_set.hpp)
// runs them in place of the vectorised ones when VELK_REFERENCE_KERNELS is "1".
#pragma once

#include <expected>
#include <string>

#include "interp/dense_solver.hpp"
#include "interp/rbf_interpolator.hpp"

namespace velk::interp::reference {

// The kernel matrix row by row, one kernel call per entry.
DenseMatrix kernel_matrix(const NodeList& points, RbfKernel kernel, double epsilon);

// Pivot blocks of 64 columns, the rows below each block updated four pivots per pass.
std::expected<LuFactors, std::string> lu_decompose(RowMatrix matrix);

// One query after the other, one kernel call per centre.
std::expected<NodeList, std::string> predict(const RbfModel& model, const NodeList& queries);

}  // namespace velk::interp::reference
