// Node clusters: clouds of regular lattice points with no cells, a (possibly rotated) solid
// block of them and the ones that fall inside a ball.
#pragma once

#include <cstdint>

#include "core/error.hpp"
#include "core/point.hpp"

namespace velk {

// Every point of the (x+1)·(y+1)·(z+1) lattice spanning the box of the given edge lengths about
// centre, z index fastest, then y, then x; rotated about centre by theta (degrees) unless all
// three angles are zero. Fails with MeshGeneration when a length is not positive (checked
// first) or a resolution component is zero. A lattice too large for memory throws
// sizes::MemoryRefused ("a (x, y, z) <name> needs ..."); the memory checks of both clusters
// count caller_bytes_per_node more per node for the caller's copy of the result (the binding
// layer's Python list), which the core knows only as that number.
Result<NodeList> generate_block_cluster(const Point3& length, const Point3& centre,
                                        const Point3& theta, const Resolution& resolution,
                                        uint64_t caller_bytes_per_node = 0,
                                        const char* name = "block cluster");

// The points of the (n+1)³ lattice spanning the cube of edge 2·radius about centre that lie in
// the closed ball of that radius, in lattice order. Fails with MeshGeneration when radius is
// not positive (checked first) or resolution is zero. A result too large for memory (counted
// as for the block cluster) throws sizes::MemoryRefused before the lattice is walked.
Result<NodeList> generate_sphere_cluster(double radius, const Point3& centre, uint64_t resolution,
                                         uint64_t caller_bytes_per_node = 0);

}  // namespace velk
