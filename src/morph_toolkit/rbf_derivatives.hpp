// Derivatives of the displacement morph with respect to the prescribed displacements. The fit
// is linear in them: [w; a] = A^-1 [d; 0] with the symmetric saddle-point matrix A, and the
// displacement at points x is E(x) [w; a], E = [Phi(x, c) P(x)]. So a forward product is the
// morph of the tangent displacements (one solve with the kept factors, one evaluation), and a
// reverse product is A^-1 E^T V: E^T V is a kernel sum at the controls over the points (an
// evaluation with the roles swapped, never forming E), then one solve (A is symmetric).
#pragma once

#include <cstddef>
#include <vector>

#include "morph_toolkit/rbf_morph.hpp"

namespace velk::toolkit {

// s'(points) in the direction `tangent` (n_controls × 3) of the displacements: out m × 3.
std::vector<double> rbf_jvp(const RbfMorph& morph, const double* points, std::size_t m,
                            const double* tangent);

// The gradient with respect to the displacements (n_controls × 3) of
// sum(cotangent * displacement(points)), cotangent m × 3. The sums over the points run in a
// fixed order, so the bits do not depend on the number of threads.
std::vector<double> rbf_vjp(const RbfMorph& morph, const double* points, std::size_t m,
                            const double* cotangent);

}  // namespace velk::toolkit
