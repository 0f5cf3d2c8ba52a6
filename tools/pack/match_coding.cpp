#include "match_coding.h"

#include <bit>

namespace pack {

namespace {

template <typename Base, size_t N>
Slot findSlot(const Base (&base)[N], const uint8_t (&extraBits)[N], uint32_t value) {
  size_t slot = N - 1;
  while (base[slot] > value)
    --slot;
  return {static_cast<int>(slot), extraBits[slot], value - base[slot]};
}

} // namespace

Slot lengthSlot(uint32_t value) {
  return findSlot(kLengthBase, kLengthExtraBits, value);
}

Slot shortDistanceSlot(uint32_t distance) {
  return findSlot(kShortDistanceBase, kShortDistanceExtraBits, distance - 1);
}

Slot distanceSlot(uint32_t distance) {
  const uint32_t value = distance - 1;
  int slot;
  if (value < 4) {
    slot = static_cast<int>(value);
  } else if (value < 262144) {
    // Two slots per power of two: the top bit picks the pair, the bit below it the slot.
    const int top = std::bit_width(value) - 1;
    slot = 2 * top + static_cast<int>((value >> (top - 1)) & 1);
  } else {
    // Above 2^18 the slots are 2^16 wide.
    slot = 36 + static_cast<int>((value - 262144) >> 16);
  }
  return {slot, kDistanceExtraBits[slot], value - kDistanceBase[slot]};
}

} // namespace pack
