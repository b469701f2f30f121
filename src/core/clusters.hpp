// Node clusters: clouds of regular lattice points with no cells, a (possibly rotated) solid
// block of them and the ones that fall inside a ball.
#pragma once

#include <cstdint>

#include "core/error.hpp"
#include "core/point.hpp"

namespace velk {

// How the memory check of a lattice counts and names it: the caller's copy of each node (for
// example the Python list it becomes) and what the request is called in the refusal text.
struct LatticeBudget {
  uint64_t caller_bytes_per_node = 0;
  const char* name = "block cluster";
};

// Every point of the (x+1)·(y+1)·(z+1) lattice spanning the box of the given edge lengths about
// centre, z index fastest, then y, then x; rotated about centre by theta (degrees) unless all
// three angles are zero. Fails with MeshGeneration when a length is not positive (checked
// first) or a resolution component is zero. A lattice too large for memory, counted as the
// budget says, throws sizes::MemoryRefused ("a (x, y, z) block cluster needs ...").
Result<NodeList> generate_block_cluster(const Point3& length, const Point3& centre,
                                        const Point3& theta, const Resolution& resolution,
                                        const LatticeBudget& budget = {});

// The points of the (n+1)³ lattice spanning the cube of edge 2·radius about centre that lie in
// the closed ball of that radius, in lattice order. Fails with MeshGeneration when radius is
// not positive (checked first) or resolution is zero. A result too large for memory (counted
// as for the block cluster) throws sizes::MemoryRefused before the lattice is walked.
Result<NodeList> generate_sphere_cluster(double radius, const Point3& centre, uint64_t resolution,
                                         uint64_t caller_bytes_per_node = 0);

}  // namespace velk
