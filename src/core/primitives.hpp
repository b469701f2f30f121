// The shape generators: closed or open triangle surfaces of standard solids and of a NACA
// 4-digit wing. Each checks its arguments first, in a fixed order, and returns a
// MeshGeneration Error with a fixed message for the first rule broken; otherwise the mesh.
// Node and cell counts are checked for overflow and against the machine's memory before
// anything is built: a request that cannot fit throws std::bad_alloc.
#pragma once

#include <array>
#include <cstdint>
#include <utility>

#include "core/error.hpp"
#include "core/mesh.hpp"

namespace velk {

// A box of edge lengths `length` about `centre`, turned by `theta` (degrees) about the centre,
// with a surface lattice of resolution (nx, ny, nz) divisions. Outward winding.
// Nodes: (nx+1)(ny+1)(nz+1) - (nx-1)(ny-1)(nz-1); cells: 4(ny·nz + nx·nz + nx·ny).
Result<Mesh> generate_box(const Point3& length, const Point3& centre, const Point3& theta,
                          const Resolution& resolution);

// An icosahedron subdivided `subdivisions` times and projected once onto the sphere.
// Outward winding. Nodes: 10·4^n + 2; cells: 20·4^n.
Result<Mesh> generate_icosphere(double radius, const Point3& centre, uint32_t subdivisions);

// A sphere of `sectors` around and `stacks` from pole to pole, poles on the y axis.
// Outward winding for a positive radius. Nodes: 2 + S(T-1); cells: 2S(T-1).
Result<Mesh> generate_uvsphere(double radius, const Point3& centre, uint32_t sectors,
                               uint32_t stacks);

// A closed cylinder along y with caps. Inward winding. Nodes: 2 + S(T+1); cells: 2S + 2ST.
Result<Mesh> generate_cylinder(double radius, double height, const Point3& centre, uint32_t sectors,
                               uint32_t stacks);

// A cone along y, apex up, with its base. Inward winding. Nodes: S + 2; cells: 2S.
Result<Mesh> generate_cone(double radius, double height, const Point3& centre, uint32_t sectors);

// A capsule along y: two hemispheres joined by a straight part of `cylinder_height`. The pole
// rings are rings of S nodes, not merged. Outward winding. Nodes: (2T+1)S; cells: 4ST.
Result<Mesh> generate_capsule(double radius, double cylinder_height, const Point3& centre,
                              uint32_t sectors, uint32_t stacks);

// A torus about the y axis; its two seams are left unmerged. Inward winding.
// Nodes: (M+1)(N+1); cells: 2MN.
Result<Mesh> generate_torus(double major_radius, double minor_radius, const Point3& centre,
                            uint32_t major_segments, uint32_t minor_segments);

// A straight wing of unit chord with a NACA 4-digit section sampled at n_points + 1 even chord
// stations, extruded along z from wing_span.first to wing_span.second, open at both ends.
// Nodes: 4n + 2; cells: 4n. n_points = 0 is refused (no section exists).
Result<Mesh> generate_naca_wing(double maximum_camber, double camber_distance,
                                double maximum_thickness, uint64_t n_points,
                                std::pair<double, double> wing_span);

}  // namespace velk
