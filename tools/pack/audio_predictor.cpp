#include "audio_predictor.h"

#include <cstdlib>

namespace pack {

namespace {

void adaptWeights(AudioChannelState& v) {
  int winner = 0;
  for (int j = 1; j < 11; ++j)
    if (v.error[j] < v.error[winner])
      winner = j;
  for (uint32_t& sum : v.error)
    sum = 0;
  if (winner == 0)
    return;
  // Odd winners lower a weight, even winners raise it, within -17..16.
  const int m = (winner + 1) / 2;
  if (winner % 2 == 1) {
    if (v.weight[m - 1] >= -16)
      --v.weight[m - 1];
  } else if (v.weight[m - 1] < 16) {
    ++v.weight[m - 1];
  }
}

} // namespace

uint8_t encodeAudioByte(AudioChannelState& v, int32_t& channelDelta, uint8_t actual) {
  v.count += 1;
  v.delta[3] = v.delta[2];
  v.delta[2] = v.delta[1];
  v.delta[1] = v.lastDelta - v.delta[0];
  v.delta[0] = v.lastDelta;

  const int32_t predicted =
      ((8 * v.lastSample + v.weight[0] * v.delta[0] + v.weight[1] * v.delta[1] +
        v.weight[2] * v.delta[2] + v.weight[3] * v.delta[3] + v.weight[4] * channelDelta) >>
       3) &
      0xFF;
  const uint8_t delta = static_cast<uint8_t>(predicted - actual);
  const int32_t sample = predicted - delta;

  const int32_t e = static_cast<int8_t>(delta) * 8;
  v.error[0] += static_cast<uint32_t>(std::abs(e));
  v.error[1] += static_cast<uint32_t>(std::abs(e - v.delta[0]));
  v.error[2] += static_cast<uint32_t>(std::abs(e + v.delta[0]));
  v.error[3] += static_cast<uint32_t>(std::abs(e - v.delta[1]));
  v.error[4] += static_cast<uint32_t>(std::abs(e + v.delta[1]));
  v.error[5] += static_cast<uint32_t>(std::abs(e - v.delta[2]));
  v.error[6] += static_cast<uint32_t>(std::abs(e + v.delta[2]));
  v.error[7] += static_cast<uint32_t>(std::abs(e - v.delta[3]));
  v.error[8] += static_cast<uint32_t>(std::abs(e + v.delta[3]));
  v.error[9] += static_cast<uint32_t>(std::abs(e - channelDelta));
  v.error[10] += static_cast<uint32_t>(std::abs(e + channelDelta));

  v.lastDelta = static_cast<int8_t>(static_cast<uint8_t>(sample - v.lastSample));
  channelDelta = v.lastDelta;
  v.lastSample = sample;

  if (v.count % 32 == 0)
    adaptWeights(v);
  return delta;
}

} // namespace pack
