// The radial basis kernels (all functions of the squared distance) and the kernel matrix, built
// in square tiles of the upper triangle (each mirrored below the diagonal) on the worker pool.
#include "interp/rbf_kernels.hpp"

#include <algorithm>
#include <cmath>

#include "core/checked_size.hpp"
#include "core/worker_pool.hpp"
#include "interp/rbf_lanes.hpp"

namespace velk::interp {

namespace {

template <RbfKernel K>
double kernel_at(double s, double e) {
  return Kernel<K>::finish(Kernel<K>::prepare(s, e * e));
}

// Refuses an n × n matrix of doubles whose two copies (the kernel matrix and the solver's
// factorised copy) cannot fit in memory, so a huge request fails cleanly before any work.
void check_matrix_size(std::size_t n) {
  sizes::require_memory(sizes::mul(2, sizes::bytes(sizes::mul(n, n), sizeof(double))));
}

// Rows and columns of a tile of the kernel matrix.
constexpr std::size_t kTile = 64;

// The points by coordinate, so that four consecutive points load as one vector.
struct Coordinates {
  std::vector<double> x, y, z;
  explicit Coordinates(const NodeList& points)
      : x(points.size()), y(points.size()), z(points.size()) {
    for (std::size_t i = 0; i < points.size(); ++i)
      x[i] = points[i].x, y[i] = points[i].y, z[i] = points[i].z;
  }
};

// out[j - begin] = prepare(s(points[i], points[j]), e2) for j in [begin, end).
template <RbfKernel K>
void prepare_row_plain(const NodeList& points, const Coordinates&, std::size_t i, std::size_t begin,
                       std::size_t end, double e2, double* out) {
  for (std::size_t j = begin; j < end; ++j)
    out[j - begin] = Kernel<K>::prepare(clamped_squared_distance(points[i], points[j]), e2);
}

#if VELK_SIMD_AVX2
template <RbfKernel K>
VELK_AVX2 void prepare_row_avx2(const NodeList& points, const Coordinates& xyz, std::size_t i,
                                std::size_t begin, std::size_t end, double e2, double* out) {
  const __m256d px = _mm256_set1_pd(points[i].x), py = _mm256_set1_pd(points[i].y),
                pz = _mm256_set1_pd(points[i].z), e2v = _mm256_set1_pd(e2);
  std::size_t j = begin;
  for (; j + 4 <= end; j += 4) {
    const __m256d s =
        lanes::clamped_squared_distance(_mm256_sub_pd(px, _mm256_loadu_pd(&xyz.x[j])),
                                        _mm256_sub_pd(py, _mm256_loadu_pd(&xyz.y[j])),
                                        _mm256_sub_pd(pz, _mm256_loadu_pd(&xyz.z[j])));
    _mm256_storeu_pd(out + (j - begin), lanes::prepare<K>(s, e2v));
  }
  prepare_row_plain<K>(points, xyz, i, j, end, e2, out + (j - begin));
}
#endif

// The tiles (I, J) with J >= I of one row of tiles; entries below the diagonal of a diagonal
// tile come from their mirror.
using PrepareRow = void (*)(const NodeList& points, const Coordinates& xyz, std::size_t i,
                            std::size_t begin, std::size_t end, double e2, double* out);

template <RbfKernel K>
void fill_tile_row(RowMatrix& k, const NodeList& points, const Coordinates& xyz,
                   std::size_t tile_row, double e2, PrepareRow prepare_row) {
  const std::size_t n = points.size();
  const std::size_t i0 = tile_row * kTile, i1 = std::min(i0 + kTile, n);
  double values[kTile];
  for (std::size_t j0 = i0; j0 < n; j0 += kTile) {
    const std::size_t j1 = std::min(j0 + kTile, n);
    for (std::size_t i = i0; i < i1; ++i) {
      const std::size_t begin = std::max(j0, i);
      if (begin >= j1) continue;
      prepare_row(points, xyz, i, begin, j1, e2, values);
      double* row = k[i];
      for (std::size_t j = begin; j < j1; ++j) {
        const double v = Kernel<K>::finish(values[j - begin]);
        row[j] = v;
        k[j][i] = v;
      }
    }
  }
}

}  // namespace

std::optional<RbfKernel> kernel_by_name(std::string_view name) {
  if (name == "gaussian") return RbfKernel::gaussian;
  if (name == "multiquadric") return RbfKernel::multiquadric;
  if (name == "inverse_multiquadratic") return RbfKernel::inverse_multiquadratic;
  if (name == "linear") return RbfKernel::linear;
  if (name == "cubic") return RbfKernel::cubic;
  if (name == "thin_plate_spline") return RbfKernel::thin_plate_spline;
  return std::nullopt;
}

KernelFunction kernel_function(RbfKernel kernel) {
  return with_kernel(kernel,
                     [](auto k) -> KernelFunction { return kernel_at<decltype(k)::value>; });
}

RowMatrix kernel_matrix(const NodeList& points, RbfKernel kernel, double epsilon) {
  const std::size_t n = points.size();
  check_matrix_size(n);
  // Every entry is written below: each tile on or above the diagonal and its mirror.
  RowMatrix k = RowMatrix::uninitialised(n);
  const Coordinates xyz(points);
  const double e2 = epsilon * epsilon;
  // Tile rows t and tiles - 1 - t go together, so every task has about the same number of
  // tiles; each task writes only the tiles of its own rows and their mirrors.
  const std::size_t tiles = (n + kTile - 1) / kTile;
  with_kernel(kernel, [&](auto kind) {
    constexpr RbfKernel K = decltype(kind)::value;
    const PrepareRow prepare_row = VELK_SIMD_PICK(prepare_row_avx2<K>, prepare_row_plain<K>);
    pool::for_each_block((tiles + 1) / 2, n >= 2 * kTile, [&](std::size_t t) {
      fill_tile_row<K>(k, points, xyz, t, e2, prepare_row);
      if (tiles - 1 - t != t) fill_tile_row<K>(k, points, xyz, tiles - 1 - t, e2, prepare_row);
    });
  });
  return k;
}

}  // namespace velk::interp
