// The eight shape-generator functions: bind and convert the arguments in signature order, run
// the core generator, and return a new Mesh. A generator's Error is an internal failure.
#include <array>

#include "core/primitives.hpp"
#include "py/convert.hpp"
#include "py/entry.hpp"
#include "py/py_mesh.hpp"

namespace velk::py {
namespace {

constexpr auto generate_box_entry =
    function("generate_box", {"length", "centre", "theta", "resolution"}, 4,
             "Generate box primative", to_point3, to_point3, to_point3, to_resolution);

const Binding generate_box_binding =
    function_binding<generate_box_entry>([](auto length, auto centre, auto theta, auto resolution) {
      return wrap_mesh(unwrap(generate_box(length, centre, theta, resolution)));
    });

constexpr auto generate_icosphere_entry =
    function("generate_icosphere", {"radius", "centre", "subdivisions"}, 3,
             "Generate icosphere primative", to_float, to_point3, to_u32);

const Binding generate_icosphere_binding =
    function_binding<generate_icosphere_entry>([](auto radius, auto centre, auto subdivisions) {
      return wrap_mesh(unwrap(generate_icosphere(radius, centre, subdivisions)));
    });

constexpr auto generate_uvsphere_entry =
    function("generate_uvsphere", {"radius", "centre", "sectors", "stacks"}, 4,
             "Generate uv sphere primative", to_float, to_point3, to_u32, to_u32);

const Binding generate_uvsphere_binding = function_binding<generate_uvsphere_entry>(
    [](auto radius, auto centre, auto sectors, auto stacks) {
      return wrap_mesh(unwrap(generate_uvsphere(radius, centre, sectors, stacks)));
    });

constexpr auto generate_cylinder_entry =
    function("generate_cylinder", {"radius", "height", "centre", "sectors", "stacks"}, 5,
             "Generate cylinder primative", to_float, to_float, to_point3, to_u32, to_u32);

const Binding generate_cylinder_binding = function_binding<generate_cylinder_entry>(
    [](auto radius, auto height, auto centre, auto sectors, auto stacks) {
      return wrap_mesh(unwrap(generate_cylinder(radius, height, centre, sectors, stacks)));
    });

constexpr auto generate_cone_entry =
    function("generate_cone", {"radius", "height", "centre", "sectors"}, 4,
             "Generate cone primative", to_float, to_float, to_point3, to_u32);

const Binding generate_cone_binding =
    function_binding<generate_cone_entry>([](auto radius, auto height, auto centre, auto sectors) {
      return wrap_mesh(unwrap(generate_cone(radius, height, centre, sectors)));
    });

constexpr auto generate_capsule_entry =
    function("generate_capsule", {"radius", "cylinder_height", "centre", "sectors", "stacks"}, 5,
             "Generate capsule primative", to_float, to_float, to_point3, to_u32, to_u32);

const Binding generate_capsule_binding = function_binding<generate_capsule_entry>(
    [](auto radius, auto cylinder_height, auto centre, auto sectors, auto stacks) {
      return wrap_mesh(unwrap(generate_capsule(radius, cylinder_height, centre, sectors, stacks)));
    });

constexpr auto generate_torus_entry =
    function("generate_torus",
             {"major_radius", "minor_radius", "centre", "major_segments", "minor_segments"}, 5,
             "Generate torus primative", to_float, to_float, to_point3, to_u32, to_u32);

const Binding generate_torus_binding =
    function_binding<generate_torus_entry>([](auto major_radius, auto minor_radius, auto centre,
                                              auto major_segments, auto minor_segments) {
      return wrap_mesh(unwrap(
          generate_torus(major_radius, minor_radius, centre, major_segments, minor_segments)));
    });

constexpr auto generate_naca_wing_entry = function(
    "generate_naca_wing",
    {"maximum_camber", "camber_distance", "maximum_thickness", "n_points", "wing_span"}, 5,
    "Generate naca wing primative", to_float, to_float, to_float, to_unsigned, to_float_pair);

const Binding generate_naca_wing_binding = function_binding<generate_naca_wing_entry>(
    [](auto maximum_camber, auto camber_distance, auto maximum_thickness, auto n_points,
       auto wing_span) {
      return wrap_mesh(unwrap(generate_naca_wing(maximum_camber, camber_distance, maximum_thickness,
                                                 n_points, wing_span)));
    });

}  // namespace
}  // namespace velk::py
