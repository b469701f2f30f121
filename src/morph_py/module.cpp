// The velk_morph module: array-native mesh morphing on velk's core.
#include <nanobind/nanobind.h>

#include "morph_py/bindings.hpp"
#include "morph_py/compute.hpp"

NB_MODULE(velk_morph, m) {
  m.doc() =
      "Array-native mesh morphing on velk's core: radial-basis-function interpolation of "
      "displacements, free-form deformation, exact derivatives of both for shape optimisation, "
      "design variables, volume and area, a wing surface, cell quality and inversion checks. "
      "numpy arrays in and out; long calls "
      "release the interpreter lock, run on velk's worker pool, honour Ctrl-C and give the same "
      "bits at any thread count.";
  m.attr("__version__") = VELK_VERSION;
  velk::morph_py::install_core_routes();
  velk::morph_py::bind_cell_quality(m);
  velk::morph_py::bind_idw_morph(m);
  velk::morph_py::bind_rbf_morph(m);
  velk::morph_py::bind_rbf_derivatives(m);
  velk::morph_py::bind_ffd(m);
  velk::morph_py::bind_surface(m);
  velk::morph_py::bind_lattice_variables(m);
}
