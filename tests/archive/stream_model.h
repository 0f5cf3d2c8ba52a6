#pragma once

// The definition of what a compressed stream decodes to, one byte at a time,
// kept apart from the decoder and as plain as the format: the unpacker's
// tests and the differential fuzz target (fuzz/fuzz_unpacker_model.cpp) both
// compare the decoder with it. Also the bit writer and the canonical codes
// that streams are written with.
#include "archive/archive_format.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <vector>

namespace archive_model {

using Bytes = std::vector<uint8_t>;

// Writes bits most significant first, as the decoder reads them.
class BitWriter {
public:
  // The low `count` bits of `value` (count at most 32).
  void put(uint32_t value, uint32_t count) {
    if (count == 0)
      return;
    pending = pending << count | (value & uint32_t((uint64_t(1) << count) - 1));
    filled += count;
    while (filled >= 8) {
      filled -= 8;
      bytes.push_back(uint8_t(pending >> filled));
    }
  }
  size_t bitCount() const { return bytes.size() * 8 + filled; }
  // The bytes written, the last one padded with zero bits.
  Bytes finish() const {
    Bytes out = bytes;
    if (filled > 0)
      out.push_back(uint8_t(pending << (8 - filled)));
    return out;
  }

private:
  Bytes bytes;
  uint64_t pending = 0;
  uint32_t filled = 0;
};

// The canonical codes of code lengths (1 to 15, 0 for none): by length, then
// by symbol, each code the next value of its length.
inline std::vector<uint32_t> canonicalCodes(const std::vector<uint8_t>& lengths) {
  std::vector<uint32_t> codes(lengths.size());
  uint32_t code = 0;
  for (uint32_t length = 1; length <= kMaxCodeLength; ++length, code <<= 1)
    for (size_t symbol = 0; symbol < lengths.size(); ++symbol)
      if (lengths[symbol] == length)
        codes[symbol] = code++;
  return codes;
}

// One audio channel's predictor, step by step as the format gives it.
struct AudioChannelModel {
  int32_t weight[5] = {};
  int32_t delta[4] = {};
  int32_t lastDelta = 0;
  uint32_t error[11] = {};
  uint32_t count = 0;
  int32_t lastSample = 0;

  uint8_t decode(uint8_t coded, int32_t& channelDelta) {
    ++count;
    delta[3] = delta[2];
    delta[2] = delta[1];
    delta[1] = lastDelta - delta[0];
    delta[0] = lastDelta;
    const int32_t predicted =
        ((8 * lastSample + weight[0] * delta[0] + weight[1] * delta[1] + weight[2] * delta[2] +
          weight[3] * delta[3] + weight[4] * channelDelta) >>
         3) &
        0xFF;
    const int32_t sample = predicted - int32_t(coded);
    const int32_t e = int32_t(int8_t(coded)) * 8;
    error[0] += uint32_t(std::abs(e));
    error[1] += uint32_t(std::abs(e - delta[0]));
    error[2] += uint32_t(std::abs(e + delta[0]));
    error[3] += uint32_t(std::abs(e - delta[1]));
    error[4] += uint32_t(std::abs(e + delta[1]));
    error[5] += uint32_t(std::abs(e - delta[2]));
    error[6] += uint32_t(std::abs(e + delta[2]));
    error[7] += uint32_t(std::abs(e - delta[3]));
    error[8] += uint32_t(std::abs(e + delta[3]));
    error[9] += uint32_t(std::abs(e - channelDelta));
    error[10] += uint32_t(std::abs(e + channelDelta));
    lastDelta = int8_t(uint8_t(uint8_t(sample) - uint8_t(lastSample)));
    channelDelta = lastDelta;
    lastSample = sample;
    if (count % 32 == 0) {
      uint32_t winner = 0;
      for (uint32_t j = 1; j < 11; ++j)
        if (error[j] < error[winner])
          winner = j;
      std::fill(error, error + 11, 0u);
      if (winner != 0 && winner % 2 == 1 && weight[(winner - 1) / 2] >= -16)
        --weight[(winner - 1) / 2];
      else if (winner != 0 && winner % 2 == 0 && weight[(winner - 1) / 2] < 16)
        ++weight[(winner - 1) / 2];
    }
    return uint8_t(sample);
  }
};

// The format's symbols one byte at a time: the output a stream must decode
// to. `out` is the whole stream's history, every entry of a solid stream
// after the other, whether their output is kept or not.
struct ByteModel {
  Bytes out;
  uint32_t recent[4] = {};
  uint32_t counter = 0;
  uint32_t lastLength = 0, lastDistance = 0;
  AudioChannelModel channels[kMaxAudioChannels];
  int32_t channelDelta = 0;
  uint32_t channelCount = 1;
  uint32_t currentChannel = 0;

  // A match: records the distance, then copies byte by byte (overlapping
  // copies repeat the pattern). A distance of 0 (no match yet) is the
  // window's size: it reads the byte being replaced in the 1 MiB window,
  // zero while less than a window has been produced.
  void copy(uint32_t length, uint32_t distance) {
    recent[counter++ & 3] = distance;
    lastLength = length;
    lastDistance = distance;
    const size_t start = out.size();
    out.resize(start + length);
    uint8_t* const bytes = out.data();
    for (size_t i = start; i < start + length; ++i) {
      const int64_t from = int64_t(i) - (distance ? distance : kWindowSize);
      bytes[i] = from >= 0 ? bytes[from] : 0;
    }
  }
  static uint32_t longDistanceBonus(uint32_t distance) {
    return (distance >= kLongDistance1) + (distance >= kLongDistance2);
  }
  // Symbols 270-297: the length before the bonus, and the distance.
  void match(uint32_t length, uint32_t distance) {
    copy(length + longDistanceBonus(distance), distance);
  }
  // Symbols 257-260 (`back` 1 to 4): the length from the length slot.
  void recentMatch(uint32_t back, uint32_t length) {
    const uint32_t distance = recent[(counter - back) & 3];
    copy(length + (distance >= kRecentDistanceBonus) + longDistanceBonus(distance), distance);
  }
  // Symbol 256.
  void repeatLast() { copy(lastLength, lastDistance); }
  void literal(uint8_t byte) { out.push_back(byte); }

  // A table set for audio mode: a current channel beyond the new count is 0.
  void audioTables(uint32_t count) {
    channelCount = count;
    if (currentChannel >= channelCount)
      currentChannel = 0;
  }
  // An audio symbol below 256, on the current channel.
  void audio(uint8_t coded) {
    out.push_back(channels[currentChannel].decode(coded, channelDelta));
    if (++currentChannel == channelCount)
      currentChannel = 0;
  }

  // A new stream: everything but the mode's channel count starts afresh.
  void newStream() {
    const uint32_t count = channelCount;
    *this = ByteModel{};
    channelCount = count;
  }
};

} // namespace archive_model
