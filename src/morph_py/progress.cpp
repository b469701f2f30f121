// The progress argument: the callable or tqdm bar behind the core's progress callback.
#include "morph_py/progress.hpp"

namespace velk::morph_py {

using namespace nb::literals;

Progress::Progress(nb::handle progress, const char* description, const char* unit)
    : description_(description), unit_(unit) {
  if (progress.is_none() || progress.ptr() == Py_False) return;
  if (progress.ptr() == Py_True) {
    try {
      target_ = nb::module_::import_("tqdm").attr("tqdm");
    } catch (nb::python_error&) {
      throw nb::import_error(
          "progress=True shows a tqdm bar, but tqdm is not installed (pip install tqdm); pass a "
          "callable to receive (done, total) instead");
    }
  } else if (PyCallable_Check(progress.ptr())) {
    target_ = nb::borrow(progress);
  } else {
    throw nb::type_error("progress must be None, a bool, or a callable receiving (done, total)");
  }
  active_ = true;
  callback_ = [this](std::size_t done, std::size_t total) { tell(done, total); };
}

Progress::~Progress() {
  close_bar();
}

void Progress::tell(std::size_t done, std::size_t total) {
  nb::gil_scoped_acquire locked;
  try {
    if (PyType_Check(target_.ptr())) {  // tqdm's bar class: open the bar at the first report
      if (!bar_.is_valid())
        bar_ = target_(nb::arg("total") = total, nb::arg("desc") = description_,
                       nb::arg("unit") = unit_);
      bar_.attr("update")(done - shown_);
      shown_ = done;
      if (done == total) close_bar();
    } else {
      target_(done, total);
    }
  } catch (nb::python_error& e) {
    failure_.emplace(std::move(e));
    throw Stopped{};
  }
}

void Progress::rethrow() {
  close_bar();
  nb::python_error e = std::move(*failure_);
  failure_.reset();
  throw e;
}

void Progress::close_bar() noexcept {
  if (!bar_.is_valid()) return;
  nb::object bar = std::move(bar_);
  try {
    bar.attr("close")();
  } catch (nb::python_error& e) {
    e.discard_as_unraisable("closing a velk_morph progress bar");
  }
}

}  // namespace velk::morph_py
