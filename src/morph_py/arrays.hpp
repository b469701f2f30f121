// The arrays velk_morph takes and returns. Arguments go through numpy's own conversion (any
// array-like numpy turns into numbers is taken; a C-contiguous float64 or int64 array is used in
// place, without a copy), then their shape and values are checked, and every refusal is a
// ValueError naming the argument. Results are numpy arrays that own the core's vectors.
#pragma once

#include <nanobind/nanobind.h>

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace velk::morph_py {

namespace nb = nanobind;

// A read-only float64 array of shape (rows, cols), kept alive by the array object it views.
struct FloatRows {
  nb::object owner;
  std::span<const double> values;
  std::size_t rows = 0;
};

// An int64 array of shape (rows, width).
struct IndexRows {
  nb::object owner;
  std::span<const int64_t> values;
  std::size_t rows = 0, width = 0;
};

// `obj` as an (N, 3) array of finite floats. Raises ValueError naming `name` with the shape it
// got, or with the first row holding NaN or infinity.
FloatRows points_arg(nb::handle obj, const char* name);

// `obj` as a (K, w) array of integers (any integer dtype; floats are refused).
IndexRows index_rows_arg(nb::handle obj, const char* name);

// `obj` as a one-dimensional array of integers (any integer dtype; floats are refused).
IndexRows index_list_arg(nb::handle obj, const char* name);

// `obj` as a one-dimensional array of finite floats.
FloatRows values_arg(nb::handle obj, const char* name);

// Raises ValueError naming `name` unless `rows` has exactly `expected` rows of 3, saying what
// they are (e.g. "one per lattice node").
void check_rows(const FloatRows& rows, std::size_t expected, const char* name, const char* what);

// Raises ValueError naming `name` unless a and b have the same number of rows.
void check_same_rows(const FloatRows& a, const FloatRows& b, const char* name);

// A new numpy array of shape (rows, cols) (cols 0: one-dimensional) owning `values`.
nb::object float_array(std::vector<double>&& values, std::size_t rows, std::size_t cols);
// A new (len / 3, 3) array owning `values`, flat rows of three.
nb::object point_rows(std::vector<double>&& values);
nb::object index_array(std::vector<int64_t>&& values);
nb::object int32_array(std::vector<int32_t>&& values);

}  // namespace velk::morph_py
