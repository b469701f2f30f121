// Argument conversion through numpy and results that own the core's vectors.
#include "morph_py/arrays.hpp"

#include <nanobind/ndarray.h>
#include <nanobind/stl/string.h>

#include <cmath>
#include <string>
#include <utility>

namespace velk::morph_py {

using namespace nb::literals;

namespace {

nb::module_ numpy() {
  return nb::module_::import_("numpy");
}

// str(obj), as Python prints it.
std::string text_of(nb::handle obj) {
  nb::str text = nb::steal<nb::str>(PyObject_Str(obj.ptr()));
  if (!text.is_valid()) throw nb::python_error();
  return text.c_str();
}

std::string shape_text(nb::handle array) {
  return text_of(array.attr("shape"));
}

[[noreturn]] void refuse(const std::string& text) {
  throw nb::value_error(text.c_str());
}

// `obj` as a numpy array of the given dtype, contiguous, after checking it holds numbers of an
// accepted kind ("iuf" or "iu").
nb::object contiguous(nb::handle obj, const char* name, const char* kinds, const char* dtype) {
  nb::object np = numpy();
  nb::object array;
  try {
    array = np.attr("asarray")(obj);
  } catch (nb::python_error& e) {
    refuse(std::string(name) + " is not an array of numbers: " + e.what());
  }
  const std::string kind = nb::cast<std::string>(array.attr("dtype").attr("kind"));
  if (kind.size() != 1 || std::string(kinds).find(kind[0]) == std::string::npos)
    refuse(std::string(name) + " must hold " +
           (std::string(kinds) == "iu" ? "integers" : "real numbers") + ", got dtype " +
           text_of(array.attr("dtype")));
  return np.attr("ascontiguousarray")(array, "dtype"_a = np.attr(dtype));
}

}  // namespace

FloatRows points_arg(nb::handle obj, const char* name) {
  nb::object array = contiguous(obj, name, "iuf", "float64");
  const auto view = nb::cast<nb::ndarray<const double, nb::c_contig, nb::device::cpu>>(array);
  if (view.ndim() != 2 || view.shape(1) != 3)
    refuse(std::string(name) + " must have shape (N, 3), got " + shape_text(array));
  const std::size_t rows = view.shape(0);
  std::span<const double> values(view.data(), rows * 3);
  for (std::size_t i = 0; i < values.size(); ++i)
    if (!std::isfinite(values[i]))
      refuse(std::string(name) + " must be finite, but row " + std::to_string(i / 3) + " holds " +
             (std::isnan(values[i]) ? "NaN" : "infinity"));
  return {std::move(array), values, rows};
}

IndexRows index_rows_arg(nb::handle obj, const char* name) {
  nb::object array = contiguous(obj, name, "iu", "int64");
  const auto view = nb::cast<nb::ndarray<const int64_t, nb::c_contig, nb::device::cpu>>(array);
  if (view.ndim() != 2)
    refuse(std::string(name) + " must have shape (K, w), got " + shape_text(array));
  const std::size_t rows = view.shape(0), width = view.shape(1);
  return {std::move(array), std::span<const int64_t>(view.data(), rows * width), rows, width};
}

namespace {

// `obj` as a one-dimensional contiguous array of T, and the array that owns it.
template <class T>
std::pair<nb::object, std::span<const T>> one_dimensional(nb::handle obj, const char* name,
                                                          const char* kinds, const char* dtype) {
  // An empty list is an empty array of any kind (numpy makes it float64).
  nb::object np = numpy(), given;
  try {
    given = np.attr("asarray")(obj);
  } catch (nb::python_error&) {  // contiguous() says what is wrong
  }
  const bool empty = given.is_valid() && nb::cast<std::size_t>(given.attr("size")) == 0;
  nb::object array = empty ? np.attr("ascontiguousarray")(given, "dtype"_a = np.attr(dtype))
                           : contiguous(obj, name, kinds, dtype);
  const auto view = nb::cast<nb::ndarray<const T, nb::c_contig, nb::device::cpu>>(array);
  if (view.ndim() != 1)
    refuse(std::string(name) + " must have shape (K,), got " + shape_text(array));
  return {std::move(array), std::span<const T>(view.data(), view.shape(0))};
}

}  // namespace

IndexRows index_list_arg(nb::handle obj, const char* name) {
  auto [array, values] = one_dimensional<int64_t>(obj, name, "iu", "int64");
  return {std::move(array), values, values.size(), 1};
}

FloatRows values_arg(nb::handle obj, const char* name) {
  auto [array, values] = one_dimensional<double>(obj, name, "iuf", "float64");
  for (std::size_t i = 0; i < values.size(); ++i)
    if (!std::isfinite(values[i]))
      refuse(std::string(name) + " must be finite, but entry " + std::to_string(i) + " is " +
             (std::isnan(values[i]) ? "NaN" : "infinity"));
  return {std::move(array), values, values.size()};
}

void check_rows(const FloatRows& rows, std::size_t expected, const char* name, const char* what) {
  if (rows.rows != expected)
    refuse(std::string(name) + " must have shape (" + std::to_string(expected) + ", 3), " + what +
           ", got (" + std::to_string(rows.rows) + ", 3)");
}

void check_same_rows(const FloatRows& a, const FloatRows& b, const char* name) {
  if (a.rows != b.rows)
    refuse(std::string(name) + " must have as many rows as the points before it (" +
           std::to_string(a.rows) + "), got " + std::to_string(b.rows));
}

namespace {

template <class T>
nb::object owning_array(std::vector<T>&& values, std::size_t rows, std::size_t cols) {
  auto* heap = new std::vector<T>(std::move(values));
  nb::capsule owner(heap, [](void* p) noexcept { delete static_cast<std::vector<T>*>(p); });
  const std::size_t shape[2] = {rows, cols};
  return nb::cast(nb::ndarray<nb::numpy, T>(heap->data(), cols == 0 ? 1 : 2, shape, owner));
}

}  // namespace

nb::object float_array(std::vector<double>&& values, std::size_t rows, std::size_t cols) {
  return owning_array(std::move(values), rows, cols);
}

nb::object point_rows(std::vector<double>&& values) {
  const std::size_t rows = values.size() / 3;
  return float_array(std::move(values), rows, 3);
}

nb::object int32_array(std::vector<int32_t>&& values) {
  const std::size_t n = values.size();
  return owning_array(std::move(values), n, 0);
}

nb::object index_array(std::vector<int64_t>&& values) {
  const std::size_t n = values.size();
  // Viewed as numpy's own int64 type (not the equal "long long" one), so it prints plainly.
  return owning_array(std::move(values), n, 0).attr("view")(numpy().attr("int64"));
}

}  // namespace velk::morph_py
