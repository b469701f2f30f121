// Merging of file corners into shared nodes: a hash map keyed on the exact bit patterns of the
// three coordinates, nodes numbered in order of first appearance.
#pragma once

#include <bit>
#include <cstdint>
#include <unordered_map>

#include "core/point.hpp"

namespace velk::io {

class VertexMerger {
 public:
  void reserve(std::size_t corners) {
    nodes_.reserve(corners);
    index_.reserve(corners);
  }
  // The node index of the corner, appending it as a new node when its key is new.
  uint64_t merge(const Point3& p) {
    const Key key{std::bit_cast<uint64_t>(p.x), std::bit_cast<uint64_t>(p.y),
                  std::bit_cast<uint64_t>(p.z)};
    auto [it, inserted] = index_.try_emplace(key, nodes_.size());
    if (inserted) nodes_.push_back(p);
    return it->second;
  }
  NodeList take_nodes() { return std::move(nodes_); }

 private:
  struct Key {
    uint64_t x, y, z;
    bool operator==(const Key&) const = default;
  };
  struct KeyHash {
    std::size_t operator()(const Key& k) const {
      uint64_t h = k.x * 0x9E3779B97F4A7C15ull;
      h ^= (h >> 29) ^ (k.y * 0xC2B2AE3D27D4EB4Full);
      h ^= (h >> 31) ^ (k.z * 0x165667B19E3779F9ull);
      return static_cast<std::size_t>(h ^ (h >> 32));
    }
  };
  NodeList nodes_;
  std::unordered_map<Key, uint64_t, KeyHash> index_;
};

}  // namespace velk::io
