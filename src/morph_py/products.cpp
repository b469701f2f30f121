// The argument checks and stub signature shared by the (points, second) product methods.
#include "morph_py/products.hpp"

namespace velk::morph_py {

PointPair point_pair_args(nb::handle points, nb::handle second, const char* name,
                          const char* per_item, std::size_t items) {
  PointPair args{points_arg(points, "points"), points_arg(second, name)};
  check_rows(args.second, per_item ? items : args.points.rows, name,
             per_item ? per_item : "one row per point");
  return args;
}

std::string point_pair_sig(const char* name, const char* second) {
  return std::string("def ") + name + "(self, points: numpy.typing.ArrayLike, " + second +
         ": numpy.typing.ArrayLike) -> numpy.typing.NDArray[numpy.float64]";
}

}  // namespace velk::morph_py
