// FreeFormDeformer.deform without Python: 1,000,000 points inside a design block of order n
// (default 9) in every axis, best of 5 calls, in seconds. Build it from the repository root with
//   g++ -std=c++23 -O3 -ffp-contract=off -Isrc benchmarks/ffd_kernel_timing.cpp
//     src/core/*.cpp src/core/primitives/*.cpp src/morph/*.cpp src/interp/*.cpp -lpthread
// (one command line)
// and run it with RAYON_NUM_THREADS=1 and 2 for the scaling (VELK_PLAIN_KERNELS=1: baseline path).
#include <chrono>
#include <cstdio>
#include <random>

#include "morph/design_block.hpp"
#include "morph/ffd.hpp"
using namespace velk;
using namespace velk::morph;
int main(int argc, char** argv) {
  int res = argc > 1 ? atoi(argv[1]) : 9;
  auto block = *make_design_block({2.0, 3.0, 1.5}, {0.1, -0.2, 0.3}, {0.0, 0.0, 25.0},
                                  {(uint64_t)res, (uint64_t)res, (uint64_t)res});
  auto def = *make_free_form_deformer(block);
  std::mt19937_64 rng(7);
  std::uniform_real_distribution<double> u(0.001, 0.999), n(-0.05, 0.05);
  NodeList moved = block.nodes;
  for (auto& p : moved) p = {p.x + n(rng), p.y + n(rng), p.z + n(rng)};
  NodeList pts(1000000);
  for (auto& p : pts) {  // uniform in the unit frame, mapped to space
    double a = u(rng), b = u(rng), c = u(rng);
    const auto& f = def.from_unit_frame;
    const auto& c0 = block.corners[0];
    p = {((a * f[0][0] + b * f[1][0]) + c * f[2][0]) + f[3][0] + c0.x,
         ((a * f[0][1] + b * f[1][1]) + c * f[2][1]) + f[3][1] + c0.y,
         ((a * f[0][2] + b * f[1][2]) + c * f[2][2]) + f[3][2] + c0.z};
  }
  double best = 1e9, sum = 0;
  for (int r = 0; r < 5; ++r) {
    NodeList in = pts;
    auto t0 = std::chrono::steady_clock::now();
    auto out = deform(def, std::move(in), moved);
    auto t1 = std::chrono::steady_clock::now();
    double s = std::chrono::duration<double>(t1 - t0).count();
    best = std::min(best, s);
    sum += (*out)[12345].x;
    fprintf(stderr, "  %.4f\n", s);  // every call, for the spread
  }
  printf("%.4f %g\n", best, sum);
}
