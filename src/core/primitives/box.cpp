// generate_box: the surface nodes of a regular lattice, in lattice order, and two cells per
// quad of each of the six faces.
#include <array>
#include <cstdint>
#include <vector>

#include "core/internal_failure.hpp"
#include "core/primitives.hpp"
#include "core/primitives/mesh_storage.hpp"
#include "core/rotation.hpp"

namespace velk {

namespace {

// The node indices of one face, row-major: row r, column s is entry r·columns + s.
struct FaceGrid {
  std::vector<uint64_t> ids;
  uint64_t columns = 0;
  uint64_t at(uint64_t r, uint64_t s) const { return checked_at(ids, r * columns + s); }
};

// Cells of one pass: for each quad a = F(r-1, s), b = F(r-1, s+1), c = F(r, s), d = F(r, s+1),
// the two cells of the min face, then the two of the max face. `min_gets_abc` tells whether
// the min face gets (a, b, c), (c, b, d); the other face gets (a, c, d), (d, b, a).
void face_pass(const FaceGrid& min_face, const FaceGrid& max_face, uint64_t rows, bool min_gets_abc,
               CellList& cells) {
  const uint64_t last_column = min_face.columns - 1;
  for (uint64_t r = 1; r < rows; ++r) {
    for (uint64_t s = 0; s < last_column; ++s) {
      for (int face = 0; face < 2; ++face) {
        const FaceGrid& f = face == 0 ? min_face : max_face;
        const uint64_t a = f.at(r - 1, s), b = f.at(r - 1, s + 1);
        const uint64_t c = f.at(r, s), d = f.at(r, s + 1);
        if ((face == 0) == min_gets_abc) {
          cells.push_back({a, b, c});
          cells.push_back({c, b, d});
        } else {
          cells.push_back({a, c, d});
          cells.push_back({d, b, a});
        }
      }
    }
  }
}

}  // namespace

Result<Mesh> generate_box(const Point3& length, const Point3& centre, const Point3& theta,
                          const Resolution& resolution) {
  if (length.x <= 0.0 || length.y <= 0.0 || length.z <= 0.0)
    return fail_with(Error::mesh_generation("Invalid length: dimensions must be positive."));
  const uint64_t nx = resolution.x, ny = resolution.y, nz = resolution.z;
  if (nx == 0 || ny == 0 || nz == 0)
    return fail_with(Error::mesh_generation("Invalid resolution: dimensions must be non-zero."));

  // Surface nodes: the two z faces whole, plus the perimeter 2(nx + ny) of every inner k layer.
  using namespace sizes;
  const uint64_t nx1 = add(nx, 1), ny1 = add(ny, 1), nz1 = add(nz, 1);
  const uint64_t node_count = add(mul(2, mul(nx1, ny1)), mul(nz - 1, mul(2, add(nx, ny))));
  const uint64_t cell_count = mul(4, add(add(mul(ny, nz), mul(nx, nz)), mul(nx, ny)));
  const uint64_t x_face = mul(ny1, nz1), y_face = mul(nx1, nz1), z_face = mul(nx1, ny1);
  const uint64_t face_ids = mul(2, add(add(x_face, y_face), z_face));
  Mesh mesh = primitives::reserve_mesh(node_count, cell_count, bytes(face_ids, sizeof(uint64_t)));

  FaceGrid x_min, x_max, y_min, y_max, z_min, z_max;
  x_min.columns = x_max.columns = nz + 1;
  y_min.columns = y_max.columns = nz + 1;
  z_min.columns = z_max.columns = ny + 1;
  for (FaceGrid* f : {&x_min, &x_max}) f->ids.reserve(x_face);
  for (FaceGrid* f : {&y_min, &y_max}) f->ids.reserve(y_face);
  for (FaceGrid* f : {&z_min, &z_max}) f->ids.reserve(z_face);

  const double dx = length.x / static_cast<double>(nx);
  const double dy = length.y / static_cast<double>(ny);
  const double dz = length.z / static_cast<double>(nz);
  const double x0 = centre.x - length.x * 0.5;
  const double y0 = centre.y - length.y * 0.5;
  const double z0 = centre.z - length.z * 0.5;
  const bool rotated = theta.x != 0.0 || theta.y != 0.0 || theta.z != 0.0;
  const Matrix3 r = rotated ? rotation_matrix(theta) : Matrix3{};

  for (uint64_t i = 0; i <= nx; ++i) {
    for (uint64_t j = 0; j <= ny; ++j) {
      // Inside the i and j bounds only the k = 0 and k = nz points lie on the surface.
      const bool side = i == 0 || i == nx || j == 0 || j == ny;
      const uint64_t k_step = side ? 1 : nz;
      for (uint64_t k = 0; k <= nz; k += k_step) {
        Point3 p{x0 + static_cast<double>(i) * dx, y0 + static_cast<double>(j) * dy,
                 z0 + static_cast<double>(k) * dz};
        // Each component ((R[r][0]·(x − cx) + R[r][1]·(y − cy)) + R[r][2]·(z − cz)) + c_r.
        if (rotated) p = rotate_about(r, p, centre);
        const uint64_t id = mesh.nodes.size();
        mesh.nodes.push_back(p);
        if (i == 0) x_min.ids.push_back(id);
        if (i == nx) x_max.ids.push_back(id);
        if (j == 0) y_min.ids.push_back(id);
        if (j == ny) y_max.ids.push_back(id);
        if (k == 0) z_min.ids.push_back(id);
        if (k == nz) z_max.ids.push_back(id);
      }
    }
  }

  face_pass(x_min, x_max, ny + 1, true, mesh.cells);
  face_pass(y_min, y_max, nx + 1, false, mesh.cells);
  face_pass(z_min, z_max, nx + 1, true, mesh.cells);
  return mesh;
}

}  // namespace velk
