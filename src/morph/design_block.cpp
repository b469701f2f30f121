// Construction of a design block, its free-node selection and its moved lattices.
#include "morph/design_block.hpp"

#include "core/mesh_plane.hpp"
#include "core/rotation.hpp"
#include "core/selection.hpp"
#include "morph/transforms.hpp"

namespace velk::morph {

namespace {

Point3 cross(const Point3& a, const Point3& b) {
  return {a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x};
}

std::array<Point3, 8> block_corners(const Point3& l, const Point3& c, const Point3& theta) {
  const Matrix3 r = rotation_matrix(theta);
  const Point3 low = (c - l * 0.5) - c;
  const Point3 high = (l * 0.5 + c) - c;
  std::array<Point3, 8> corners;
  for (int q = 0; q < 8; ++q) {
    const Point3 offset = {(q & 1) ? high.x : low.x, (q & 2) ? high.y : low.y,
                           (q & 4) ? high.z : low.z};
    // R·offset + c, each component ((R[r][0]·ox + R[r][1]·oy) + R[r][2]·oz) + c_r.
    corners[q] = rotate(r, offset) + c;
  }
  return corners;
}

// The corners A, B, C, D of each face, faces numbered z−, z+, y−, y+, x−, x+.
constexpr int kFaceCorners[6][4] = {
    {0, 1, 3, 2}, {4, 5, 7, 6}, {0, 1, 5, 4}, {2, 3, 7, 6}, {0, 2, 6, 4}, {1, 3, 7, 5},
};

// The plane of face f (unbounded): through the mean of its corners, normal (B − A) × (C − A).
Plane face_plane(const std::array<Point3, 8>& corners, int f) {
  const Point3& a = corners[kFaceCorners[f][0]];
  const Point3& b = corners[kFaceCorners[f][1]];
  const Point3& c = corners[kFaceCorners[f][2]];
  const Point3& d = corners[kFaceCorners[f][3]];
  const Point3 origin = ((((Point3{0.0, 0.0, 0.0} + a) + b) + c) + d) * 0.25;
  const Point3 normal = cross(b - a, c - a);
  return {origin, normal};
}

}  // namespace

Result<DesignBlock> make_design_block(const Point3& length, const Point3& centre,
                                      const Point3& theta, const Resolution& resolution,
                                      uint64_t caller_bytes_per_node) {
  // Every use of a block passes its lattice through the caller once (its nodes, a moved copy
  // for deform), so that copy counts too, at caller_bytes_per_node.
  Result<NodeList> lattice = generate_block_cluster(length, centre, theta, resolution,
                                                    caller_bytes_per_node, "design block");
  if (!lattice) return fail_with(lattice.error());
  DesignBlock block;
  block.nodes = std::move(*lattice);
  block.length = length;
  block.centre = centre;
  block.theta = theta;
  block.resolution = resolution;
  block.corners = block_corners(length, centre, theta);
  block.inverse_lengths = {1.0 / length.x, 1.0 / length.y, 1.0 / length.z};
  const Point3& c0 = block.corners[0];
  block.frame_points = {c0 - c0, block.corners[1] - c0, block.corners[2] - c0,
                        block.corners[4] - c0};
  return block;
}

Result<IndexList> select_free_design_nodes(const DesignBlock& block, const Mesh& target_mesh,
                                           std::optional<uint64_t> fixed_layers) {
  const uint64_t f = fixed_layers.value_or(2);
  const Resolution& n = block.resolution;
  if (n.x < f || n.y < f || n.z < f)
    return fail_with(
        Error::deformation("Block resultion must be at least the size of the fixed layers!"));
  if (f == 0) {
    // No layer is held: every design node is free, whatever the mesh touches.
    IndexList all(block.nodes.size());
    for (uint64_t i = 0; i < all.size(); ++i) all[i] = i;
    return all;
  }

  std::vector<Plane> planes;
  for (int face = 0; face < 6; ++face) planes.push_back(face_plane(block.corners, face));
  const std::vector<bool> touched = planes_cut_mesh(target_mesh, planes);

  Point3 free_length = block.length;
  Point3 free_centre = block.centre;
  const Point3 spacing = {block.length.x / static_cast<double>(n.x),
                          block.length.y / static_cast<double>(n.y),
                          block.length.z / static_cast<double>(n.z)};
  const double layers = static_cast<double>(f - 1);
  const Point3 thickness = {spacing.x * 0.01 + spacing.x * layers,
                            spacing.y * 0.01 + spacing.y * layers,
                            spacing.z * 0.01 + spacing.z * layers};
  // Shrink away from the touched faces in the order x−, x+, y−, y+, z−, z+.
  if (touched[4]) free_length.x -= thickness.x, free_centre.x += thickness.x * 0.5;
  if (touched[5]) free_length.x -= thickness.x, free_centre.x += thickness.x * (-0.5);
  if (touched[2]) free_length.y -= thickness.y, free_centre.y += thickness.y * 0.5;
  if (touched[3]) free_length.y -= thickness.y, free_centre.y += thickness.y * (-0.5);
  if (touched[0]) free_length.z -= thickness.z, free_centre.z += thickness.z * 0.5;
  if (touched[1]) free_length.z -= thickness.z, free_centre.z += thickness.z * (-0.5);

  // A margin of a thousandth of a spacing keeps the outermost free layer inside the box.
  const Point3 box_length = {free_length.x + 0.001 * spacing.x, free_length.y + 0.001 * spacing.y,
                             free_length.z + 0.001 * spacing.z};
  const Point3 box_centre = rotate_about(rotation_matrix(block.theta), free_centre, block.centre);
  return select_nodes_in_box(block.nodes, box_length, box_centre, block.theta);
}

NodeList transform_subset(const DesignBlock& block, const IndexList& node_ids,
                          const Matrix4& transform_matrix, const Point3& pivot) {
  return transform_selected_nodes(block.nodes, node_ids, transform_matrix, pivot);
}

}  // namespace velk::morph
