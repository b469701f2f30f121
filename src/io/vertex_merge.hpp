// Merging of file corners into shared nodes: open-addressing hash tables keyed on the exact
// bit patterns of the three coordinates, nodes numbered in order of first appearance. The
// VertexMerger takes 64-bit corners one at a time (text files); the CornerTable holds 32-bit
// float corners of binary files.
#pragma once

#include <algorithm>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <utility>
#include <vector>

#include "core/pages.hpp"
#include "core/point.hpp"

namespace velk::io {

class VertexMerger {
 public:
  VertexMerger() { rehash(64); }

  // Reserves the node list for this many corners; the table is sized for a third of them (a
  // typical surface shares each node among several triangles) and grows as needed.
  void reserve(std::size_t corners) {
    nodes_.reserve(corners);
    const std::size_t expected = corners / 3;
    if (expected * 2 > slots_.size()) rehash(std::bit_ceil(expected * 2));
  }

  // The node index of the corner, appending it as a new node when its key is new.
  uint64_t merge(const Point3& p) {
    const Key key{std::bit_cast<uint64_t>(p.x), std::bit_cast<uint64_t>(p.y),
                  std::bit_cast<uint64_t>(p.z)};
    std::size_t i = hash(key) & mask_;
    for (;; i = (i + 1) & mask_) {
      Slot& slot = slots_[i];
      if (slot.index == kEmpty) break;
      if (slot.key == key) return slot.index;
    }
    const uint64_t index = nodes_.size();
    slots_[i] = {key, index};
    nodes_.push_back(p);
    if (nodes_.size() * 2 > slots_.size()) rehash(slots_.size() * 2);
    return index;
  }

  NodeList take_nodes() { return std::move(nodes_); }

 private:
  struct Key {
    uint64_t x, y, z;
    bool operator==(const Key&) const = default;
  };
  struct Slot {
    Key key;
    uint64_t index;
  };
  static constexpr uint64_t kEmpty = ~uint64_t{0};

  static std::size_t hash(const Key& k) {
    uint64_t h = k.x * 0x9E3779B97F4A7C15ull;
    h = (h ^ (h >> 29) ^ k.y) * 0xC2B2AE3D27D4EB4Full;
    h = (h ^ (h >> 31) ^ k.z) * 0x165667B19E3779F9ull;
    return static_cast<std::size_t>(h ^ (h >> 32));
  }

  // Capacity is a power of two, at least twice the node count.
  void rehash(std::size_t capacity) {
    std::vector<Slot> old = std::move(slots_);
    slots_.assign(capacity, Slot{{}, kEmpty});
    mask_ = capacity - 1;
    for (const Slot& s : old) {
      if (s.index == kEmpty) continue;
      std::size_t i = hash(s.key) & mask_;
      while (slots_[i].index != kEmpty) i = (i + 1) & mask_;
      slots_[i] = s;
    }
  }

  NodeList nodes_;
  std::vector<Slot> slots_;
  std::size_t mask_ = 0;
};

// A binary corner: the three float bit patterns, with every NaN made quiet. Converting a float
// to a 64-bit float is exact except that it quiets a signalling NaN, so two keys are equal
// exactly when the converted corners have equal bit patterns (-0.0 differs from 0.0, NaNs of
// equal sign and payload are equal).
struct FloatKey {
  uint32_t x, y, z;
  bool operator==(const FloatKey&) const = default;
};

inline uint32_t quiet_nan_bits(uint32_t bits) {
  const bool nan = (bits & 0x7F800000u) == 0x7F800000u && (bits & 0x007FFFFFu) != 0;
  return nan ? bits | 0x00400000u : bits;
}

inline uint64_t float_key_hash(const FloatKey& k) {
  uint64_t h = (uint64_t{k.x} | (uint64_t{k.y} << 32)) * 0x9E3779B97F4A7C15ull;
  h = (h ^ (h >> 29) ^ k.z) * 0xC2B2AE3D27D4EB4Full;
  h = (h ^ (h >> 32)) * 0x165667B19E3779F9ull;
  return h ^ (h >> 29);
}

// Keys with a 32-bit value each (below 2^32 - 1), the slot chosen by the low bits of the key's
// hash, probed linearly.
class CornerTable {
 public:
  explicit CornerTable(std::size_t expected) {
    rehash(std::bit_ceil(std::max<std::size_t>(64, expected * 2)));
  }

  void prefetch(uint64_t hash) const { __builtin_prefetch(&slots_[hash & mask_]); }

  // The value of key, storing value with it when the key is new.
  uint32_t find_or_insert(const FloatKey& key, uint64_t hash, uint32_t value) {
    std::size_t i = hash & mask_;
    for (;; i = (i + 1) & mask_) {
      const Slot& slot = slots_[i];
      if (slot.stored == 0) break;
      if (slot.key == key) return slot.stored - 1;
    }
    slots_[i] = {key, value + 1};
    if (++size_ * 2 > capacity_) rehash(capacity_ * 2);
    return value;
  }

 private:
  // A slot holds its value plus one; zero marks an empty slot, so fresh zeroed pages are an
  // empty table.
  struct Slot {
    FloatKey key;
    uint32_t stored;
  };

  // Capacity is a power of two, at least twice the key count.
  void rehash(std::size_t capacity) {
    pages::Block table(capacity * sizeof(Slot), pages::Block::Fill::Zero);
    auto* slots = static_cast<Slot*>(table.data());
    for (std::size_t k = 0; k < capacity_; ++k) {
      const Slot& s = slots_[k];
      if (s.stored == 0) continue;
      std::size_t i = float_key_hash(s.key) & (capacity - 1);
      while (slots[i].stored != 0) i = (i + 1) & (capacity - 1);
      slots[i] = s;
    }
    pages_ = std::move(table);
    slots_ = slots;
    capacity_ = capacity;
    mask_ = capacity - 1;
  }

  pages::Block pages_;  // zeroed; on 2 MiB pages when large, for a table probed at random
  Slot* slots_ = nullptr;
  std::size_t capacity_ = 0;
  std::size_t mask_ = 0;
  std::size_t size_ = 0;
};

}  // namespace velk::io
