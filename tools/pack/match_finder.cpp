#include "match_finder.h"

#include "match_coding.h"

#include <algorithm>

namespace pack {

namespace {
constexpr int kHash3Bits = 17;
} // namespace

MatchFinder::MatchFinder(MatchFinderEffort effort)
    : effort(effort), head3(size_t{1} << kHash3Bits, -1), head2(65536, -1),
      previous(kWindowSize, -1) {}

uint32_t MatchFinder::append(std::span<const uint8_t> data) {
  // Drop history in whole windows so that `previous`, indexed by position
  // modulo the window, keeps its meaning after the shift.
  const uint32_t drop = buffer.size() > kWindowSize
                            ? static_cast<uint32_t>((buffer.size() - kWindowSize) & ~kWindowMask)
                            : 0;
  if (drop > 0) {
    buffer.erase(buffer.begin(), buffer.begin() + drop);
    const auto rebase = [drop](int32_t& pos) {
      pos = pos >= static_cast<int32_t>(drop) ? pos - static_cast<int32_t>(drop) : -1;
    };
    std::for_each(head3.begin(), head3.end(), rebase);
    std::for_each(head2.begin(), head2.end(), rebase);
    std::for_each(previous.begin(), previous.end(), rebase);
  }
  const uint32_t start = static_cast<uint32_t>(buffer.size());
  buffer.insert(buffer.end(), data.begin(), data.end());
  return start;
}

uint32_t MatchFinder::hash3(uint32_t pos) const {
  const uint32_t value =
      (uint32_t{buffer[pos]} << 16) | (uint32_t{buffer[pos + 1]} << 8) | buffer[pos + 2];
  return (value * 2654435761u) >> (32 - kHash3Bits);
}

uint32_t MatchFinder::hash2(uint32_t pos) const {
  return (uint32_t{buffer[pos]} << 8) | buffer[pos + 1];
}

void MatchFinder::insert(uint32_t pos) {
  if (pos + 2 < buffer.size()) {
    int32_t& head = head3[hash3(pos)];
    previous[pos & kWindowMask] = head;
    head = static_cast<int32_t>(pos);
  }
  if (pos + 1 < buffer.size())
    head2[hash2(pos)] = static_cast<int32_t>(pos);
}

uint32_t MatchFinder::matchLengthAt(uint32_t pos, uint32_t distance, uint32_t maxLength) const {
  if (distance == 0 || distance > pos)
    return 0;
  const uint32_t limit = std::min<uint32_t>(maxLength, size() - pos);
  const uint8_t* current = buffer.data() + pos;
  const uint8_t* earlier = current - distance;
  uint32_t length = 0;
  while (length < limit && current[length] == earlier[length])
    ++length;
  return length;
}

Match MatchFinder::longestMatch(uint32_t pos, uint32_t maxLength) const {
  Match best;
  maxLength = std::min<uint32_t>(maxLength, size() - pos);
  if (maxLength < 2)
    return best;
  const uint8_t* current = buffer.data() + pos;

  if (maxLength >= 3) {
    // Newest first; the walk ends at the first candidate out of reach, so ring
    // slots overwritten by newer positions are never followed.
    int32_t candidate = head3[hash3(pos)];
    for (int depth = 0; depth < effort.chainDepth && candidate >= 0; ++depth) {
      const uint32_t distance = pos - static_cast<uint32_t>(candidate);
      if (distance > kMaxDistance || distance == 0)
        break;
      const uint8_t* earlier = buffer.data() + candidate;
      // Cheap rejection: a better match must agree at the current best length.
      if (earlier[best.length] == current[best.length] && earlier[0] == current[0]) {
        uint32_t length = 0;
        while (length < maxLength && earlier[length] == current[length])
          ++length;
        if (length > best.length && length >= minimumNewMatch(distance)) {
          best = {length, distance};
          if (length >= effort.niceLength || length == maxLength)
            break;
        }
      }
      candidate = previous[static_cast<uint32_t>(candidate) & kWindowMask];
    }
  }

  if (best.length == 0) {
    // A byte pair close by still makes a short match.
    const int32_t candidate = head2[hash2(pos)];
    if (candidate >= 0 && pos - static_cast<uint32_t>(candidate) <= 256) {
      const uint32_t distance = pos - static_cast<uint32_t>(candidate);
      best = {matchLengthAt(pos, distance, maxLength), distance};
      if (best.length < 2)
        best = {};
    }
  }
  return best;
}

} // namespace pack
