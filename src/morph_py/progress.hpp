// The `progress` argument of velk_morph's long calls. None or False: no reporting and no cost;
// a callable: called as callable(done, total) while the call runs; True: a tqdm bar (tqdm must
// be installed). The core counts work on any thread of the pool; the callable runs only on the
// thread that made the call, with the interpreter lock held. An exception it raises ends the
// call and reaches the caller unchanged.
#pragma once

#include <nanobind/nanobind.h>

#include <cstddef>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "morph_py/arrays.hpp"
#include "morph_py/compute.hpp"
#include "morph_toolkit/progress.hpp"

namespace velk::morph_py {

namespace nb = nanobind;

// The stub type of the argument, for nb::sig strings.
#define VELK_MORPH_PROGRESS_TYPE "bool | collections.abc.Callable[[int, int], object] | None"

class Progress {
 public:
  // Raises TypeError for another kind of argument, ImportError for True without tqdm. A bar
  // shows the description and counts in `unit` (string literals).
  Progress(nb::handle progress, const char* description, const char* unit = "pt");
  ~Progress();
  Progress(const Progress&) = delete;
  Progress& operator=(const Progress&) = delete;

  // Runs work(callback) with the interpreter lock released, where callback is the core's view
  // of this argument (nullptr when nothing reports), and returns its result.
  template <class Work>
  auto run(Work&& work) -> decltype(work(nullptr)) {
    try {
      return released(description_, [&] { return std::forward<Work>(work)(callback()); });
    } catch (const Stopped&) {
      rethrow();
    }
  }

 private:
  // Thrown through the core when the callable raised; the Python exception is kept here.
  struct Stopped {};
  const toolkit::ProgressCallback* callback() const { return active_ ? &callback_ : nullptr; }
  void tell(std::size_t done, std::size_t total);
  [[noreturn]] void rethrow();
  void close_bar() noexcept;

  bool active_ = false;
  nb::object target_;  // the callable, or tqdm's bar class
  const char* description_;
  const char* unit_;
  nb::object bar_;  // the open bar
  std::size_t shown_ = 0;
  std::optional<nb::python_error> failure_;
  toolkit::ProgressCallback callback_;
};

// An evaluation method's body: checks points as (M, 3), then runs eval(points, callback) -> M × 3
// values with the lock released, reporting to the progress argument.
template <class Eval>
nb::object evaluate_points(nb::handle points, nb::handle progress, const char* description,
                           Eval&& eval) {
  const FloatRows p = points_arg(points, "points");
  Progress meter(progress, description);
  std::vector<double> out =
      meter.run([&](const toolkit::ProgressCallback* report) { return eval(p, report); });
  return float_array(std::move(out), p.rows, 3);
}

// Defines the evaluation method cls.name(points, progress=None) -> (M, 3) array, computed as
// eval(self, points, callback); description names it on a progress bar (a string literal).
template <class T, class Eval>
void def_evaluation(nb::class_<T>& cls, const char* name, const char* description, Eval eval,
                    const char* doc) {
  const std::string sig =
      std::string("def ") + name + "(self, points: numpy.typing.ArrayLike, progress: " +
      VELK_MORPH_PROGRESS_TYPE " = None) -> numpy.typing.NDArray[numpy.float64]";
  cls.def(
      name,
      [description, eval](const T& self, nb::handle points, nb::handle progress) {
        return evaluate_points(points, progress, description,
                               [&](const FloatRows& p, const toolkit::ProgressCallback* report) {
                                 return eval(self, p, report);
                               });
      },
      nb::arg("points"), nb::arg("progress") = nb::none(), nb::sig(sig.c_str()), doc);
}

}  // namespace velk::morph_py
