// The parts of velk_morph, each bound in its own file: the module entry calls them in order.
#pragma once

#include <nanobind/nanobind.h>

namespace velk::morph_py {

void bind_cell_quality(nanobind::module_& m);
void bind_idw_morph(nanobind::module_& m);
void bind_rbf_morph(nanobind::module_& m);

}  // namespace velk::morph_py
