// Constants of the version-2.0 compressed stream, seen from the encoder's side:
// symbol numbers, the slot tables shared with the decoder, and the lookups that
// turn a length or a distance into its slot.
#pragma once

#include "archive/archive_format.h"

#include <cstdint>

namespace pack {

// The format's constants as signed values, for index arithmetic.
constexpr uint32_t WindowSize = kWindowSize;
constexpr uint32_t WindowMask = kWindowMask;
// The farthest back a match may reach; one short of the window so that the
// source byte has not been overwritten yet in any decoder.
constexpr uint32_t MaxDistance = WindowSize - 1;
// Every match length up to this one is codable both as a new match and as a
// recent-distance match, whatever the distance.
constexpr uint32_t MaxMatchLength = 257;

constexpr int MaxCodeLength = kMaxCodeLength;

constexpr int RepeatLastSymbol = kSymbolRepeatLast;
constexpr int RecentDistanceSymbol = kSymbolRecentFirst; // 257..260, newest distance first
constexpr int ShortMatchSymbol = kSymbolShortFirst;      // 261..268: length 2, distance 1..256
constexpr int TableSwitchSymbol = kSymbolNewTables;
constexpr int MatchLengthSymbol = kSymbolMatchFirst; // 270..297: length slot of a new match
constexpr int AudioTableSwitchSymbol = kAudioSymbolNewTables;

constexpr int LiteralSymbols = kLiteralSymbols;
constexpr int DistanceSymbols = kDistanceSymbols;
constexpr int LengthSymbols = kLengthSymbols;
constexpr int AudioSymbols = kAudioSymbols;
constexpr int LzLengthCount = kLzTableLengths;
constexpr int MaxLengthCount = kMaxTableLengths;
constexpr int BitLengthSymbols = kBitLengthSymbols;

// Offsets of the tables inside the one array of code lengths a table set carries.
constexpr int LiteralTableOffset = 0;
constexpr int DistanceTableOffset = LiteralSymbols;
constexpr int LengthTableOffset = LiteralSymbols + DistanceSymbols;

// A slot number and the value of its extra bits.
struct Slot {
  int slot;
  int extraBits;
  uint32_t extraValue;
};

// Slot of a length-table value 0..255 (the length after its bias is removed).
Slot lengthSlot(uint32_t value);
// Slot of a distance 1..WindowSize (the stream codes distance - 1).
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
