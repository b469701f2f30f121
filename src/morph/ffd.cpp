// Construction of the free-form deformer (its frame fits) and the deformation of points.
#include "morph/ffd.hpp"

#include <vector>

#include "core/internal_failure.hpp"
#include "core/worker_pool.hpp"
#include "morph/bernstein.hpp"
#include "morph/linear_algebra.hpp"
#include "morph/rotation.hpp"

namespace velk {

namespace {

// Below this many points a loop runs on the calling thread; the bits are the same either way.
constexpr std::size_t kMinParallelPoints = 512;

const std::array<Point3, 4> kUnitFrame = {Point3{0.0, 0.0, 0.0}, Point3{1.0, 0.0, 0.0},
                                          Point3{0.0, 1.0, 0.0}, Point3{0.0, 0.0, 1.0}};

DenseMatrix homogeneous_rows(const std::array<Point3, 4>& points) {
  DenseMatrix rows;
  rows.reserve(points.size());
  for (const Point3& p : points) rows.push_back({p.x, p.y, p.z, 1.0});
  return rows;
}

Result<Matrix4> fit_frame(const std::array<Point3, 4>& from, const std::array<Point3, 4>& to) {
  Result<DenseMatrix> x = solve_least_squares(homogeneous_rows(from), homogeneous_rows(to));
  if (!x) return fail_with(x.error());
  Matrix4 m{};
  for (std::size_t r = 0; r < 4; ++r)
    for (std::size_t c = 0; c < 4; ++c) m[r][c] = checked_at(checked_at(*x, r), c);
  return m;
}

// (x, y, z, 1)·F: component c is ((x·F[0][c] + y·F[1][c]) + z·F[2][c]) + F[3][c].
Point3 row_times(const Point3& p, const Matrix4& f) {
  Point3 out;
  double* o = &out.x;
  for (int c = 0; c < 3; ++c) o[c] = ((p.x * f[0][c] + p.y * f[1][c]) + p.z * f[2][c]) + f[3][c];
  return out;
}

bool in_unit_range(double v) {
  return v >= 0.0 && v <= 1.0;
}

// A lattice node turned back into the block's own axes about its centre.
Point3 unrotated(const Matrix3& back, const Point3& p, const Point3& c) {
  const Point3 r = rotate(back, {p.x - c.x, p.y - c.y, p.z - c.z});
  return {r.x + c.x, r.y + c.y, r.z + c.z};
}

// Displacement of every node in the block's unrotated axes, in block lengths.
NodeList normalised_displacements(const DesignBlock& block, const NodeList& moved) {
  const Matrix3 back = inverse_rotation_matrix(block.theta);
  const Point3& inv = block.inverse_lengths;
  NodeList d(block.nodes.size());
  for (std::size_t i = 0; i < d.size(); ++i) {
    const Point3 a = unrotated(back, block.nodes[i], block.centre);
    const Point3 b = unrotated(back, moved[i], block.centre);
    d[i] = {(b.x - a.x) * inv.x, (b.y - a.y) * inv.y, (b.z - a.z) * inv.z};
  }
  return d;
}

}  // namespace

Result<FreeFormDeformer> make_free_form_deformer(const DesignBlock& block) {
  Result<Matrix4> to_unit = fit_frame(block.frame_points, kUnitFrame);
  if (!to_unit) return fail_with(to_unit.error());
  Result<Matrix4> from_unit = fit_frame(kUnitFrame, block.frame_points);
  if (!from_unit) return fail_with(from_unit.error());
  return FreeFormDeformer{block, *to_unit, *from_unit};
}

Result<NodeList> deform(const FreeFormDeformer& deformer, const NodeList& points,
                        const NodeList& deformed_design_nodes) {
  const DesignBlock& block = deformer.block;
  if (deformed_design_nodes.size() != block.nodes.size())
    return fail_with(
        Error::deformation("The number of original and deformed design points must match!"));
  const Point3 c0 = block.corners[0];

  // Parameters of every point in the unit frame.
  NodeList params(points.size());
  pool::parallel_for(
      points.size(),
      [&](std::size_t i) {
        const Point3& p = points[i];
        params[i] = row_times({p.x - c0.x, p.y - c0.y, p.z - c0.z}, deformer.to_unit_frame);
      },
      kMinParallelPoints);

  // The inside points, in increasing order, and their parameters.
  IndexList inside;
  NodeList inside_params;
  for (std::size_t i = 0; i < params.size(); ++i) {
    const Point3& q = params[i];
    if (in_unit_range(q.x) && in_unit_range(q.y) && in_unit_range(q.z)) {
      inside.push_back(i);
      inside_params.push_back(q);
    }
  }
  params = NodeList();

  const NodeList d = normalised_displacements(block, deformed_design_nodes);
  const std::vector<double> cx = binomial_row(block.resolution.x);
  const std::vector<double> cy = binomial_row(block.resolution.y);
  const std::vector<double> cz = binomial_row(block.resolution.z);

  // New parameters: the blend of the displacements, each block of points with its own
  // weight buffers.
  NodeList moved(inside.size());
  pool::run_blocks(inside.size(), kMinParallelPoints, [&](std::size_t begin, std::size_t end) {
    std::vector<double> bx(cx.size()), by(cy.size()), bz(cz.size());
    for (std::size_t n = begin; n < end; ++n) {
      const Point3& q = inside_params[n];
      bernstein_weights(q.x, cx, bx);
      bernstein_weights(q.y, cy, by);
      bernstein_weights(q.z, cz, bz);
      const Point3 delta = bernstein_blend(bx, by, bz, d);
      moved[n] = {q.x + delta.x, q.y + delta.y, q.z + delta.z};
    }
  });

  // Back to space.
  pool::parallel_for(
      moved.size(),
      [&](std::size_t n) {
        const Point3 r = row_times(moved[n], deformer.from_unit_frame);
        moved[n] = {r.x + c0.x, r.y + c0.y, r.z + c0.z};
      },
      kMinParallelPoints);

  NodeList out = points;
  for (std::size_t n = 0; n < inside.size(); ++n) out[inside[n]] = moved[n];
  return out;
}

}  // namespace velk
