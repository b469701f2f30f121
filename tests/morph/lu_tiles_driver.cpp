// Drives the register tiles of the LU factorisation for test_lu_tiles.py: prints one line per
// tile, "ok <tile>" or "FAIL <tile>: <why>". Each tile runs on rows kept in separate buffers
// with guard values either side and is checked bit for bit against the update it stands for,
// taken pivot by pivot: c - l·u rounded twice for the unfused tiles, std::fma for the fused one.
#include <bit>
#include <cmath>
#include <cstdio>
#include <random>
#include <string>
#include <vector>

#include "../driver_report.hpp"
#include "interp/lu_tiles.hpp"

using namespace velk::interp::lu_tiles;

namespace {

constexpr std::size_t kGuard = 2;
constexpr double kGuardValue = -7.25;

// Empty when tile(depth, ...) gives update(c, l, u) applied pivot by pivot, for every depth; else
// the first difference.
template <class Tile, class Update>
std::string check(Tile tile, Update update) {
  std::mt19937_64 rng(11);
  std::uniform_real_distribution<double> draw(-3.0, 3.0);
  for (std::size_t depth : {0, 1, 2, 7, 40}) {
    std::vector<double> l(depth * kRows), u(depth * kCols);
    for (double& x : l) x = draw(rng);
    for (double& x : u) x = draw(rng);
    std::vector<std::vector<double>> rows(kRows,
                                          std::vector<double>(kCols + 2 * kGuard, kGuardValue));
    for (auto& row : rows)
      for (std::size_t j = 0; j < kCols; ++j) row[kGuard + j] = draw(rng);
    auto want = rows;
    for (std::size_t k = 0; k < depth; ++k)
      for (std::size_t r = 0; r < kRows; ++r)
        for (std::size_t j = 0; j < kCols; ++j)
          want[r][kGuard + j] = update(want[r][kGuard + j], l[k * kRows + r], u[k * kCols + j]);
    double* c[kRows];
    for (std::size_t r = 0; r < kRows; ++r) c[r] = rows[r].data() + kGuard;
    tile(depth, l.data(), u.data(), c);
    for (std::size_t r = 0; r < kRows; ++r)
      for (std::size_t j = 0; j < kCols + 2 * kGuard; ++j)
        if (std::bit_cast<unsigned long long>(rows[r][j]) !=
            std::bit_cast<unsigned long long>(want[r][j]))
          return "depth " + std::to_string(depth) + ", row " + std::to_string(r) +
                 ", buffer index " + std::to_string(j) + ": " + std::to_string(rows[r][j]) +
                 " for " + std::to_string(want[r][j]);
  }
  return "";
}

}  // namespace

int main() {
  const auto unfused = [](double c, double l, double u) { return c - l * u; };
  const auto fused = [](double c, double l, double u) { return std::fma(-l, u, c); };
  report("plain", check(tile_plain, unfused));
#if VELK_SIMD_AVX2
  report("avx2", __builtin_cpu_supports("avx2") ? check(tile_avx2, unfused) : "");
#else
  report("avx2", "");
#endif
  report("fused", check(tile_fused, fused));
  // The same data must give other bits fused than unfused, or the fused check proves nothing.
  report("fused differs",
         check(tile_fused, unfused).empty() ? "fused tile gave the unfused bits" : "");
  return 0;
}
