// Drives the free-form deformation's ready callback for test_ffd_ready.py: prints one line per
// check, "ok <name>" or "FAIL <name>: <why>". Run with RAYON_NUM_THREADS set by the test.
#include <cstdio>
#include <cstring>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

#include "../driver_report.hpp"
#include "morph/design_block.hpp"
#include "morph/ffd.hpp"

using namespace velk;
using namespace velk::morph;

namespace {

bool same_bits(const Point3* a, const Point3* b, std::size_t n) {
  return n == 0 || std::memcmp(a, b, n * sizeof(Point3)) == 0;
}

}  // namespace

int main() {
  const DesignBlock block =
      *make_design_block({2.0, 3.0, 1.5}, {0.1, -0.2, 0.3}, {0.0, 0.0, 25.0}, {4, 4, 4});
  const FreeFormDeformer deformer = *make_free_form_deformer(block);
  std::mt19937_64 rng(11);
  std::uniform_real_distribution<double> u(-1.6, 1.6), jitter(-0.05, 0.05);
  NodeList moved = block.nodes;
  for (auto& p : moved) p = {p.x + jitter(rng), p.y + jitter(rng), p.z + jitter(rng)};

  for (std::size_t n : {std::size_t{0}, std::size_t{1}, std::size_t{511}, std::size_t{513},
                        std::size_t{70001}, std::size_t{300000}}) {
    NodeList points(n);
    for (auto& p : points) p = {u(rng), u(rng), u(rng)};  // some inside the block, some not
    const NodeList plain = *deform(deformer, points, moved);
    // Every prefix reported is final: a copy taken when it is reported equals the end result.
    NodeList seen(n);
    std::size_t last = 0, calls = 0;
    std::string why;
    const Result<NodeList> staged =
        deform(deformer, points, moved, [&](const Point3* done, std::size_t ready) {
          ++calls;
          if (ready < last || ready > n)
            why = "prefix went from " + std::to_string(last) + " to " + std::to_string(ready);
          if (ready > last)
            std::memcpy(seen.data() + last, done + last, (ready - last) * sizeof(Point3));
          last = ready;
        });
    const std::string name = "n=" + std::to_string(n);
    if (why.empty() && last != n) why = "last prefix " + std::to_string(last);
    if (why.empty() && !same_bits(staged->data(), plain.data(), n)) why = "result differs";
    if (why.empty() && !same_bits(seen.data(), plain.data(), n))
      why = "a reported point changed later";
    if (why.empty() && calls == 0) why = "never called";
    report(name.c_str(), why);
  }

  // A callback that throws ends the call with its exception once the pool has stopped; the next
  // call gives the same bits.
  NodeList points(300000);
  for (auto& p : points) p = {u(rng), u(rng), u(rng)};
  const NodeList plain = *deform(deformer, points, moved);
  std::string why = "no exception";
  try {
    int calls = 0;
    (void)deform(deformer, points, moved, [&](const Point3*, std::size_t) {
      if (++calls == 1) throw std::runtime_error("stop here");
    });
  } catch (const std::runtime_error& error) {
    why = std::string(error.what()) == "stop here" ? "" : error.what();
  }
  if (why.empty() &&
      !same_bits(deform(deformer, points, moved)->data(), plain.data(), plain.size()))
    why = "the next call differs";
  report("throwing callback", why);
  return 0;
}
