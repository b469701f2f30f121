// The eight shape-generator functions: bind and convert the arguments in signature order, run
// the core generator, and return a new Mesh. A generator's Error is an internal failure.
#include <array>

#include "core/primitives.hpp"
#include "py/arguments.hpp"
#include "py/entry.hpp"
#include "py/py_mesh.hpp"

namespace velk::py {
namespace {

// Runs a core generator on the converted arguments and returns its mesh as a new Mesh.
template <auto Generate>
constexpr auto mesh_from = [](auto... args) { return wrap_mesh(unwrap(Generate(args...))); };

// The order of the declarations below is free: the module's name order is stated once, in
// module.cpp (kNames).

constexpr auto generate_torus_entry =
    function("generate_torus",
             {"major_radius", "minor_radius", "centre", "major_segments", "minor_segments"}, 5,
             "Generate torus primative", to_float, to_float, to_point3, to_u32, to_u32);
const Binding generate_torus_binding =
    function_binding<generate_torus_entry>(mesh_from<&generate_torus>);

constexpr auto generate_box_entry =
    function("generate_box", {"length", "centre", "theta", "resolution"}, 4,
             "Generate box primative", to_point3, to_point3, to_point3, to_resolution);
const Binding generate_box_binding = function_binding<generate_box_entry>(mesh_from<&generate_box>);

constexpr auto generate_cylinder_entry =
    function("generate_cylinder", {"radius", "height", "centre", "sectors", "stacks"}, 5,
             "Generate cylinder primative", to_float, to_float, to_point3, to_u32, to_u32);
const Binding generate_cylinder_binding =
    function_binding<generate_cylinder_entry>(mesh_from<&generate_cylinder>);

constexpr auto generate_naca_wing_entry = function(
    "generate_naca_wing",
    {"maximum_camber", "camber_distance", "maximum_thickness", "n_points", "wing_span"}, 5,
    "Generate naca wing primative", to_float, to_float, to_float, to_unsigned, to_float_pair);
const Binding generate_naca_wing_binding =
    function_binding<generate_naca_wing_entry>(mesh_from<&generate_naca_wing>);

constexpr auto generate_capsule_entry =
    function("generate_capsule", {"radius", "cylinder_height", "centre", "sectors", "stacks"}, 5,
             "Generate capsule primative", to_float, to_float, to_point3, to_u32, to_u32);
const Binding generate_capsule_binding =
    function_binding<generate_capsule_entry>(mesh_from<&generate_capsule>);

constexpr auto generate_icosphere_entry =
    function("generate_icosphere", {"radius", "centre", "subdivisions"}, 3,
             "Generate icosphere primative", to_float, to_point3, to_u32);
const Binding generate_icosphere_binding =
    function_binding<generate_icosphere_entry>(mesh_from<&generate_icosphere>);

constexpr auto generate_cone_entry =
    function("generate_cone", {"radius", "height", "centre", "sectors"}, 4,
             "Generate cone primative", to_float, to_float, to_point3, to_u32);
const Binding generate_cone_binding =
    function_binding<generate_cone_entry>(mesh_from<&generate_cone>);

constexpr auto generate_uvsphere_entry =
    function("generate_uvsphere", {"radius", "centre", "sectors", "stacks"}, 4,
             "Generate uv sphere primative", to_float, to_point3, to_u32, to_u32);
const Binding generate_uvsphere_binding =
    function_binding<generate_uvsphere_entry>(mesh_from<&generate_uvsphere>);

}  // namespace
}  // namespace velk::py
