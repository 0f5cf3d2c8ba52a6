// Hash-chain match finder over the last 1 MiB of the stream. The buffer holds
// what came before (up to two windows of history, kept so that ring positions
// stay valid) followed by the data being compressed now.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

namespace pack {

struct MatchFinderEffort {
  int chainDepth;      // candidates visited per position
  uint32_t niceLength; // a match this long ends the search
};

struct Match {
  uint32_t length = 0;
  uint32_t distance = 0;
};

class MatchFinder {
public:
  explicit MatchFinder(MatchFinderEffort effort);

  // Appends the next piece of the stream; history beyond the window is dropped.
  // Returns the buffer position where the new data starts.
  uint32_t append(std::span<const uint8_t> data);

  const uint8_t* bytes() const { return buffer.data(); }
  uint32_t size() const { return static_cast<uint32_t>(buffer.size()); }

  // Makes position `pos` findable by later positions. Positions must be
  // inserted in increasing order, each once.
  void insert(uint32_t pos);

  // The longest match for `pos` among earlier positions, at most `maxLength`
  // long. Every position before `pos` must be inserted, `pos` itself not yet. Only lengths the
  // stream can code for the match's distance are reported; length 0 means none.
  Match longestMatch(uint32_t pos, uint32_t maxLength) const;

  // Length of the match at `pos` against `distance` bytes back, up to maxLength.
  uint32_t matchLengthAt(uint32_t pos, uint32_t distance, uint32_t maxLength) const;

private:
  uint32_t hash3(uint32_t pos) const;
  uint32_t hash2(uint32_t pos) const;

  MatchFinderEffort effort;
  std::vector<uint8_t> buffer;
  std::vector<int32_t> head3;    // newest position per 3-byte hash, -1 for none
  std::vector<int32_t> head2;    // newest position per byte pair
  std::vector<int32_t> previous; // ring: earlier position with the same 3-byte hash
};

} // namespace pack
