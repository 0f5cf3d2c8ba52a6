// How the encoder codes a match of the version-2.0 stream: the reach and
// length it keeps matches within, the lookups that turn a length or a distance
// into its slot of the format's tables, and the bonus lengths the decoder adds
// for long distances.
#pragma once

#include "archive/archive_format.h"

#include <cstdint>

namespace pack {

// The farthest back a match may reach; one short of the window so that the
// source byte has not been overwritten yet in any decoder.
constexpr uint32_t kMaxDistance = kWindowSize - 1;
// Every match length up to this one is codable both as a new match and as a
// recent-distance match, whatever the distance.
constexpr uint32_t kMaxMatchLength = 257;

// A slot number and the value of its extra bits.
struct Slot {
  int slot;
  int extraBits;
  uint32_t extraValue;
};

// Slot of a length-table value 0..255 (the length after its bias is removed).
Slot lengthSlot(uint32_t value);
// Slot of a distance 1..kWindowSize (the stream codes distance - 1).
Slot distanceSlot(uint32_t distance);
// Slot of a short-match distance 1..256.
Slot shortDistanceSlot(uint32_t distance);

// Bonus lengths the decoder adds to a new match for long distances.
constexpr uint32_t newMatchBonus(uint32_t distance) {
  return (distance >= kLongDistance1 ? 1u : 0u) + (distance >= kLongDistance2 ? 1u : 0u);
}
// Bonus lengths the decoder adds to a recent-distance match.
constexpr uint32_t recentMatchBonus(uint32_t distance) {
  return (distance >= kRecentDistanceBonus ? 1u : 0u) + newMatchBonus(distance);
}

// The shortest match a distance can be coded with as a new match.
constexpr uint32_t minimumNewMatch(uint32_t distance) {
  return distance <= 256 ? 2u : 3u + newMatchBonus(distance);
}

} // namespace pack
