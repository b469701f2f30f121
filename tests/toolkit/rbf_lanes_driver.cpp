// Checks the kernel arithmetic of the displacement morph: for every kernel, the four-lane, the
// one-lane FMA and the plain path give the same bits, and the values are within a few ulp of a
// long-double evaluation of the kernel's formula. Prints "ok" or the first mismatch.
#include <cmath>
#include <cstdio>
#include <cstring>
#include <random>
#include <vector>

#include "morph_toolkit/rbf_lanes.cpp"

using namespace velk::toolkit;

static long double reference(Kernel k, long double s) {
  const long double r = std::sqrt(s);
  switch (k) {
    case Kernel::linear: return -r;
    case Kernel::thin_plate_spline: return s == 0 ? 0 : s * std::log(s) / 2;
    case Kernel::cubic: return r * r * r;
    case Kernel::quintic: return -r * r * r * r * r;
    case Kernel::multiquadric: return -std::sqrt(1 + s);
    case Kernel::inverse_multiquadric: return 1 / std::sqrt(1 + s);
    case Kernel::inverse_quadratic: return 1 / (1 + s);
    case Kernel::gaussian: return std::exp(-s);
    case Kernel::wendland_c0: return r < 1 ? (1 - r) * (1 - r) : 0;
    case Kernel::wendland_c2: return r < 1 ? std::pow(1 - r, 4) * (4 * r + 1) : 0;
    case Kernel::wendland_c4: return r < 1 ? std::pow(1 - r, 6) * (35 * s + 18 * r + 3) / 3 : 0;
  }
  return 0;
}

int main() {
  std::mt19937_64 gen(7);
  std::vector<double> s;
  for (double v : {0.0, 1e-320, 4.9e-324, 1e-300, 1e-10, 0.25, 0.5, 1.0, 1.0 - 1e-16, 2.0, 700.0,
                   708.5, 744.0, 745.5, 800.0, 1e300})
    s.push_back(v);
  std::uniform_real_distribution<double> u(-30.0, 12.0);
  for (int i = 0; i < 40000; ++i) s.push_back(std::pow(10.0, u(gen)));
  std::uniform_real_distribution<double> v(0.0, 1.2);
  for (int i = 0; i < 20000; ++i) s.push_back(v(gen));
  while (s.size() % 4) s.push_back(0.5);
  for (int kk = 0; kk <= static_cast<int>(Kernel::wendland_c4); ++kk) {
    const Kernel k = static_cast<Kernel>(kk);
    std::vector<double> four_out(s.size());
    // phi_row with the point at the origin and centres at (sqrt(s), 0, 0), e2 = 1, gives phi(s')
    // with s' the rounded square of sqrt(s); compare the paths on s' itself.
    std::vector<double> cx(s.size()), zero(s.size(), 0.0);
    for (std::size_t i = 0; i < s.size(); ++i) cx[i] = std::sqrt(s[i]);
    lanes::phi_row(k, 0.0, 0.0, 0.0, cx.data(), zero.data(), zero.data(), s.size(), 1.0,
                   four_out.data());
    double worst = 0, worst_s = 0;
    for (std::size_t i = 0; i < s.size(); ++i) {
      const double si = cx[i] * cx[i];
      double p = 0, o = 0;
      switch (k) {
#define CASE(K) case Kernel::K: p = lanes::plain::phi<Kernel::K>(si); o = lanes::one::phi<Kernel::K>(si); break;
        CASE(linear) CASE(thin_plate_spline) CASE(cubic) CASE(quintic) CASE(multiquadric)
        CASE(inverse_multiquadric) CASE(inverse_quadratic) CASE(gaussian) CASE(wendland_c0)
        CASE(wendland_c2) CASE(wendland_c4)
      }
      if (std::memcmp(&p, &o, 8) != 0 || std::memcmp(&p, &four_out[i], 8) != 0) {
        std::printf("paths differ: kernel %d s %.17g plain %.17g one %.17g four %.17g\n", kk, si, p,
                    o, four_out[i]);
        return 1;
      }
      const long double ref = reference(k, si);
      if (std::fabs(ref) > 1.7e308L) continue;  // beyond double range
      // The Wendland values (at most 1) near r = 1 lose relative accuracy by the cancellation in
      // 1 - r, so they are held to an absolute bound.
      const long double floor = k >= Kernel::wendland_c0 ? 1.0L : 1e-300L;
      const long double scale = std::fabs(ref) > floor ? std::fabs(ref) : floor;
      const double err = static_cast<double>(std::fabs(p - ref) / scale);
      if (err > worst) worst = err, worst_s = si;
    }
    if (worst > 4e-16 * (k == Kernel::wendland_c4 ? 4 : 2)) {
      std::printf("kernel %d relative error %.3g at s = %.17g\n", kk, worst, worst_s);
      return 1;
    }
      }
  std::printf("ok\n");
}
