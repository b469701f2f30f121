// The parts of velk_morph, each bound in its own file: the module entry calls them in order.
#pragma once

#include <nanobind/nanobind.h>

namespace velk::morph_py {

void bind_cell_quality(nanobind::module_& m);
void bind_idw_morph(nanobind::module_& m);
void bind_rbf_morph(nanobind::module_& m);
void bind_rbf_derivatives(nanobind::module_& m);  // after bind_rbf_morph
void bind_ffd(nanobind::module_& m);
void bind_surface(nanobind::module_& m);
void bind_lattice_variables(nanobind::module_& m);

}  // namespace velk::morph_py
