// Geometric functions a designer constrains (volume, area and their gradients) and the wing
// surface generator.
#include <nanobind/stl/pair.h>
#include <nanobind/stl/string.h>

#include <string>

#include "morph_py/arrays.hpp"
#include "morph_py/bindings.hpp"
#include "morph_py/compute.hpp"
#include "morph_toolkit/cell_quality.hpp"
#include "morph_toolkit/errors.hpp"
#include "morph_toolkit/surface_measures.hpp"
#include "morph_toolkit/wing_surface.hpp"

namespace velk::morph_py {

using namespace nb::literals;

namespace {

struct Surface {
  FloatRows points;
  IndexRows triangles;
};

Surface surface_args(nb::handle points, nb::handle triangles) {
  Surface s{points_arg(points, "points"), index_rows_arg(triangles, "triangles")};
  if (s.triangles.width != 3)
    throw toolkit::InvalidInput("triangles must have shape (K, 3), got (" +
                                std::to_string(s.triangles.rows) + ", " +
                                std::to_string(s.triangles.width) + ")");
  toolkit::check_cells_in_range(s.triangles.values, s.points.rows, "triangles");
  return s;
}

constexpr const char* kSurfaceParameters = R"(
Parameters
----------
points : array_like, shape (M, 3)
    Point coordinates.
triangles : array_like of int, shape (K, 3)
    Point indices of every triangle.
)";

constexpr const char* kSurfaceRaises = R"(
Raises
------
ValueError
    If points is not a finite (M, 3) array, triangles is not (K, 3), or a triangle names a
    point that does not exist.
)";

std::string doc(const char* head, const char* returns, const char* example) {
  return std::string(head) + "\n" + kSurfaceParameters + returns + kSurfaceRaises + example;
}

using Measure = double (*)(std::span<const double>, std::span<const int64_t>);
using Gradient = std::vector<double> (*)(std::span<const double>, std::span<const int64_t>);

void def_measure(nb::module_& m, const char* name, Measure f, const std::string& text) {
  m.def(
      name,
      [f, name](nb::handle points, nb::handle triangles) {
        const Surface s = surface_args(points, triangles);
        return released(name, [&] { return f(s.points.values, s.triangles.values); });
      },
      "points"_a, "triangles"_a,
      nb::sig((std::string("def ") + name +
               "(points: numpy.typing.ArrayLike, triangles: numpy.typing.ArrayLike) -> float")
                  .c_str()),
      text.c_str());
}

void def_gradient(nb::module_& m, const char* name, Gradient f, const std::string& text) {
  m.def(
      name,
      [f, name](nb::handle points, nb::handle triangles) {
        const Surface s = surface_args(points, triangles);
        std::vector<double> g =
            released(name, [&] { return f(s.points.values, s.triangles.values); });
        return float_array(std::move(g), s.points.rows, 3);
      },
      "points"_a, "triangles"_a,
      nb::sig((std::string("def ") + name +
               "(points: numpy.typing.ArrayLike, triangles: numpy.typing.ArrayLike) -> "
               "numpy.typing.NDArray[numpy.float64]")
                  .c_str()),
      text.c_str());
}

constexpr const char* kTet = R"(
Examples
--------
>>> import velk_morph
>>> tet = [[0, 0, 0], [1, 0, 0], [0, 1, 0], [0, 0, 1]]
>>> faces = [[0, 2, 1], [0, 1, 3], [0, 3, 2], [1, 2, 3]]
)";

constexpr const char* kWingDoc =
    R"(A closed wing surface: a four-digit NACA section along several span stations.

The section lies in the x-y plane (x along the chord, y up) and the span runs along z from
0 to ``span``. Chordwise points are cosine-spaced (clustered at both edges); each section is
a ring of ``2 * chord_points`` points: the trailing edge (where the section closes), the
upper surface to the leading edge, then the lower surface back, so there is one node per
point. Chord, leading-edge offset and twist vary linearly from root to tip; the twist turns
each section nose up about its quarter chord. Both tips are closed by triangles between the
upper and lower points of each chord station, and every triangle is wound outward, so
``volume`` and ``area`` apply.

Parameters
----------
naca : str, optional
    The four digits, for example ``"2412"``: camber in percent of the chord, its position in
    tenths, and the thickness in percent.
chord_points : int, optional
    Chord intervals per surface.
span_stations : int, optional
    Sections, root and tip included.
span : float, optional
    Length along z.
root_chord : float, optional
    Chord at z = 0.
taper : float, optional
    Tip chord divided by root chord.
sweep : float, optional
    Leading-edge sweep in degrees (the leading edge moves to +x along the span).
twist : float, optional
    Twist at the tip in degrees, nose up (negative for washout).

Returns
-------
points : numpy.ndarray of float64, shape (span_stations * 2 * chord_points, 3)
    Section ``j`` is rows ``j * 2 * chord_points`` onwards.
triangles : numpy.ndarray of int64, shape (K, 3)
    ``4 * chord_points * (span_stations - 1)`` side triangles, then ``2 * chord_points - 2``
    for the root tip and as many for the outer tip.

Raises
------
ValueError
    If naca is not four digits, the thickness is 0, chord_points or span_stations is below
    2, or the span or a chord is not positive.

Examples
--------
>>> import velk_morph
>>> points, triangles = velk_morph.naca_wing("0012", chord_points=16, span_stations=5)
>>> points.shape, triangles.shape
((160, 3), (316, 3))
>>> round(velk_morph.volume(points, triangles), 4)
0.3247
)";

}  // namespace

void bind_surface(nb::module_& m) {
  def_measure(m, "volume", toolkit::mesh_volume,
              doc("Enclosed volume of a closed triangle mesh.\n\nThe sum over triangles "
                  "``(a, b, c)`` of ``a . (b x c) / 6``: positive for a closed mesh wound "
                  "outward (right-hand rule), negative when wound inward.",
                  "\nReturns\n-------\nfloat\n",
                  (std::string(kTet) + ">>> velk_morph.volume(tet, faces)\n0.16666666666666666\n")
                      .c_str()));
  def_measure(
      m, "area", toolkit::mesh_area,
      doc("Surface area of a triangle mesh.", "\nReturns\n-------\nfloat\n",
          (std::string(kTet) + ">>> round(velk_morph.area(tet, faces), 6)\n2.366025\n").c_str()));
  def_gradient(m, "volume_gradient", toolkit::mesh_volume_gradient,
               doc("Gradient of ``volume`` with respect to every point.\n\nEach triangle "
                   "``(a, b, c)`` adds ``(b x c) / 6`` to ``a``, ``(c x a) / 6`` to ``b`` and "
                   "``(a x b) / 6`` to ``c``. For a closed mesh the rows sum to 0, and "
                   "``sum(points * gradient) = 3 * volume``.",
                   "\nReturns\n-------\nnumpy.ndarray of float64, shape (M, 3)\n",
                   (std::string(kTet) + ">>> velk_morph.volume_gradient(tet, faces)[3]\n"
                                        "array([0.        , 0.        , 0.16666667])\n")
                       .c_str()));
  def_gradient(m, "area_gradient", toolkit::mesh_area_gradient,
               doc("Gradient of ``area`` with respect to every point.\n\nWith ``u`` the unit "
                   "normal of a triangle ``(a, b, c)``, it adds ``((b - c) x u) / 2`` to ``a`` "
                   "and likewise (cyclically) to ``b`` and ``c``; a triangle without area adds "
                   "nothing there (its area has no gradient).",
                   "\nReturns\n-------\nnumpy.ndarray of float64, shape (M, 3)\n",
                   (std::string(kTet) + ">>> velk_morph.area_gradient(tet, faces).shape\n(4, 3)\n")
                       .c_str()));
  m.def(
      "naca_wing",
      [](const std::string& naca, std::size_t chord_points, std::size_t span_stations, double span,
         double root_chord, double taper, double sweep, double twist) {
        if (naca.size() != 4 || naca.find_first_not_of("0123456789") != std::string::npos)
          throw toolkit::InvalidInput("naca must be four digits, got '" + naca + "'");
        toolkit::WingShape shape;
        shape.maximum_camber = naca[0] - '0';
        shape.camber_distance = naca[1] - '0';
        shape.maximum_thickness = std::stod(naca.substr(2));
        shape.chord_points = chord_points, shape.span_stations = span_stations;
        shape.span = span, shape.root_chord = root_chord, shape.taper = taper;
        shape.sweep = sweep, shape.twist = twist;
        toolkit::WingSurface w = toolkit::wing_surface(shape);
        const std::size_t points = w.points.size() / 3, triangles = w.triangles.size() / 3;
        std::vector<int64_t>& cells = w.triangles;
        nb::object t = index_array(std::move(cells)).attr("reshape")(triangles, 3);
        return std::make_pair(float_array(std::move(w.points), points, 3), t);
      },
      "naca"_a = "0012", "chord_points"_a = 24, "span_stations"_a = 9, "span"_a = 4.0,
      "root_chord"_a = 1.0, "taper"_a = 1.0, "sweep"_a = 0.0, "twist"_a = 0.0,
      nb::sig("def naca_wing(naca: str = '0012', chord_points: int = 24, span_stations: int = 9, "
              "span: float = 4.0, root_chord: float = 1.0, taper: float = 1.0, sweep: float = "
              "0.0, twist: float = 0.0) -> tuple[numpy.typing.NDArray[numpy.float64], "
              "numpy.typing.NDArray[numpy.int64]]"),
      kWingDoc);
}

}  // namespace velk::morph_py
