// Least-squares fitting through the normal equations, on the dense solver.
#pragma once

#include "core/error.hpp"
#include "interp/dense_solver.hpp"

namespace velk::morph {

using interp::DenseMatrix;

// X (n rows of p floats) solving (aᵀa)·X = aᵀb, the least-squares solution of a·X ≈ b, where
// n is the length of a's first row and p that of b's first row; every sum runs in row order
// from 0.0. A solver failure becomes an Error of variant Custom carrying its message unchanged.
// Expects b to have at least as many rows as a and every row to be at least n (a) or p (b)
// long; otherwise fails with Custom "Least-squares rows are too few or too short.". Empty
// inputs fail as the solver does on an empty system.
Result<DenseMatrix> solve_least_squares(const DenseMatrix& a, const DenseMatrix& b);

}  // namespace velk::morph
