// The Ffd object of velk_morph, shared by the bindings that take one as an argument.
#pragma once

#include <nanobind/nanobind.h>

#include <cstdint>
#include <tuple>

#include "morph_toolkit/ffd_derivatives.hpp"

namespace velk::morph_py {

// length, centre, theta and resolution of a design block.
using BlockNumbers =
    std::tuple<std::tuple<double, double, double>, std::tuple<double, double, double>,
               std::tuple<double, double, double>, std::tuple<uint64_t, uint64_t, uint64_t>>;

// The deformer with the numbers it was built from (for pickling).
struct Ffd {
  explicit Ffd(const BlockNumbers& n);
  BlockNumbers numbers;
  toolkit::FfdDerivatives derivatives;

  static toolkit::FfdDerivatives build(const BlockNumbers& n);
  std::size_t nodes() const { return derivatives.node_count(); }
};

}  // namespace velk::morph_py
