// Design variables: the moves, the interpolation between stations, and the forward derivative.
#include "morph_toolkit/lattice_variables.hpp"

#include <algorithm>
#include <cmath>
#include <numbers>
#include <string>

#include "morph_toolkit/errors.hpp"
#include "morph_toolkit/vectors.hpp"

namespace velk::toolkit {

namespace {

// r turned by angle (radians) about the unit axis k (Rodrigues).
Point3 turned(const Point3& r, const Point3& k, double angle) {
  const double c = std::cos(angle), s = std::sin(angle);
  return scaled(r, c) + scaled(cross_product(k, r), s) + scaled(k, velk::dot(k, r) * (1.0 - c));
}

Point3 unit(const Point3& p, const char* name) {
  const double n = norm(p);
  if (!(n > 0.0)) throw InvalidInput(std::string(name) + " must not be the zero vector");
  return scaled(p, 1.0 / n);
}

}  // namespace

LatticeVariables::LatticeVariables(std::span<const double> base) : base_(point_list(base)) {}

std::size_t LatticeVariables::add(Kind kind, std::span<const int64_t> node_ids,
                                  const Point3& vector, const Point3& pivot,
                                  std::span<const double> stations, const Point3& along) {
  Move move{kind,
            {},
            kind == Kind::rotation ? unit(vector, "axis") : vector,
            pivot,
            variables_,
            {},
            {},
            !stations.empty()};
  for (std::size_t j = 0; j < node_ids.size(); ++j) {
    if (node_ids[j] < 0 || static_cast<uint64_t>(node_ids[j]) >= base_.size())
      throw InvalidInput("node_ids[" + std::to_string(j) + "] = " + std::to_string(node_ids[j]) +
                         " is not a lattice node (the lattice has " + std::to_string(base_.size()) +
                         ")");
    move.nodes.push_back(static_cast<std::size_t>(node_ids[j]));
  }
  std::sort(move.nodes.begin(), move.nodes.end());
  move.nodes.erase(std::unique(move.nodes.begin(), move.nodes.end()), move.nodes.end());
  for (std::size_t s = 1; s < stations.size(); ++s)
    if (!(stations[s] > stations[s - 1]))
      throw InvalidInput("stations must increase, but stations[" + std::to_string(s) +
                         "] is not above the one before");
  const Point3 direction = move.layered ? unit(along, "along") : Point3{};
  for (std::size_t node : move.nodes) {
    std::size_t low = 0;
    double w = 1.0;
    if (move.layered) {
      const double t = velk::dot(base_[node], direction);
      const auto above = std::upper_bound(stations.begin(), stations.end(), t);
      if (above == stations.begin()) {
        low = 0;
      } else if (above == stations.end()) {
        low = stations.size() - 1;
      } else {
        low = static_cast<std::size_t>(above - stations.begin()) - 1;
        w = (stations[low + 1] - t) / (stations[low + 1] - stations[low]);
      }
    }
    move.low.push_back(low);
    move.weight_low.push_back(w);
  }
  variables_ += move.layered ? stations.size() : 1;
  moves_.push_back(std::move(move));
  return moves_.back().first;
}

std::vector<double> LatticeVariables::lattice(std::span<const double> values,
                                              std::vector<double>* jacobian) const {
  if (values.size() != variables_)
    throw InvalidInput("values must hold " + std::to_string(variables_) + " numbers, got " +
                       std::to_string(values.size()));
  const std::size_t n = variables_;
  NodeList p = base_;
  // d node / d values: three rows of n per node.
  std::vector<double> d(jacobian ? base_.size() * 3 * n : 0, 0.0);
  const double degree = std::numbers::pi / 180.0;
  for (const Move& m : moves_) {
    for (std::size_t q = 0; q < m.nodes.size(); ++q) {
      const std::size_t node = m.nodes[q], low = m.first + m.low[q];
      const double w = m.weight_low[q];
      // The node's value and the variables it depends on, with their weights.
      const bool two = m.layered && w != 1.0;
      const double value = two ? w * values[low] + (1.0 - w) * values[low + 1] : values[low];
      const std::size_t vars[2] = {low, low + 1};
      const double weights[2] = {w, 1.0 - w};
      double* rows = jacobian ? d.data() + node * 3 * n : nullptr;
      const auto rate = [&](const Point3& dp) {  // d node / d value of this move
        if (!rows) return;
        for (int v = 0; v < (two ? 2 : 1); ++v) {
          const double f = two ? weights[v] : 1.0;
          rows[vars[v]] += dp.x * f, rows[n + vars[v]] += dp.y * f,
              rows[2 * n + vars[v]] += dp.z * f;
        }
      };
      Point3& x = p[node];
      switch (m.kind) {
        case Kind::translation:
          x = x + scaled(m.vector, value);
          rate(m.vector);
          break;
        case Kind::rotation: {
          const double angle = value * degree;
          const Point3 r = turned(x - m.pivot, m.vector, angle);
          if (rows)
            for (std::size_t v = 0; v < n; ++v) {
              const Point3 col = turned({rows[v], rows[n + v], rows[2 * n + v]}, m.vector, angle);
              rows[v] = col.x, rows[n + v] = col.y, rows[2 * n + v] = col.z;
            }
          rate(scaled(cross_product(m.vector, r), degree));
          x = m.pivot + r;
          break;
        }
        case Kind::scaling: {
          const Point3 r = x - m.pivot;
          const double mask[3] = {m.vector.x, m.vector.y, m.vector.z};
          const double factor = 1.0 + value;
          double* c[3] = {&x.x, &x.y, &x.z};
          const double rc[3] = {r.x, r.y, r.z}, pc[3] = {m.pivot.x, m.pivot.y, m.pivot.z};
          for (int a = 0; a < 3; ++a) {
            if (mask[a] == 0.0) continue;
            *c[a] = pc[a] + rc[a] * factor;
            if (rows)
              for (std::size_t v = 0; v < n; ++v) rows[a * n + v] *= factor;
          }
          rate(
              {mask[0] != 0.0 ? r.x : 0.0, mask[1] != 0.0 ? r.y : 0.0, mask[2] != 0.0 ? r.z : 0.0});
          break;
        }
      }
    }
  }
  if (jacobian) *jacobian = std::move(d);
  return flat_points(p);
}

}  // namespace velk::toolkit
