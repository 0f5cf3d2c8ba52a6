#pragma once

#include <algorithm>
#include <cstdint>
#include <cstdlib>

// The audio-mode predictor of one channel, shared by the decompressor and the
// archive writer so that both sides predict alike. Each channel predicts its
// next byte from its recent deltas and the last delta of any channel; the
// stream carries prediction minus actual byte. Every 32 bytes the channel
// nudges the weight whose adjustment would have erred least.
struct AudioChannel {
  int32_t weight[5] = {}; // adapted within -17 to 16
  int32_t delta[4] = {};
  int32_t lastDelta = 0;
  uint32_t error[11] = {}; // error sums of the eleven candidate adjustments
  uint32_t count = 0;      // bytes produced
  int32_t lastSample = 0;  // kept unreduced

  // Shifts the delta history for the next byte and returns its prediction.
  int32_t predictNext(int32_t channelDelta) {
    ++count;
    delta[3] = delta[2];
    delta[2] = delta[1];
    delta[1] = lastDelta - delta[0];
    delta[0] = lastDelta;
    return ((8 * lastSample + weight[0] * delta[0] + weight[1] * delta[1] + weight[2] * delta[2] +
             weight[3] * delta[3] + weight[4] * channelDelta) >>
            3) &
           0xFF;
  }

  // Records that the coded delta made `sample`; channelDelta, shared by all
  // channels, becomes this channel's last delta.
  void record(uint8_t codedDelta, int32_t sample, int32_t& channelDelta) {
    const int32_t e = int32_t(int8_t(codedDelta)) * 8;
    const int32_t candidates[5] = {delta[0], delta[1], delta[2], delta[3], channelDelta};
    error[0] += uint32_t(std::abs(e));
    for (int k = 0; k < 5; ++k) {
      error[2 * k + 1] += uint32_t(std::abs(e - candidates[k]));
      error[2 * k + 2] += uint32_t(std::abs(e + candidates[k]));
    }

    lastDelta = int8_t(uint8_t(uint8_t(sample) - uint8_t(lastSample)));
    channelDelta = lastDelta;
    lastSample = sample;

    if ((count & 31) == 0)
      adaptWeights();
  }

  // Odd winners lower a weight, even winners raise it.
  void adaptWeights() {
    const uint32_t winner = uint32_t(std::min_element(error, error + 11) - error);
    std::fill(error, error + 11, 0u);
    if (winner == 0)
      return;
    int32_t& adjusted = weight[(winner - 1) / 2];
    if (winner % 2 == 1 && adjusted >= -16)
      --adjusted;
    else if (winner % 2 == 0 && adjusted < 16)
      ++adjusted;
  }
};

// The decoder's side: the byte that the coded delta stands for.
inline uint8_t decodeAudioByte(AudioChannel& channel, int32_t& channelDelta, uint8_t codedDelta) {
  const int32_t sample = channel.predictNext(channelDelta) - int32_t(codedDelta);
  channel.record(codedDelta, sample, channelDelta);
  return uint8_t(sample);
}

// The writer's side: the delta that makes the decoder produce `actual`.
inline uint8_t encodeAudioByte(AudioChannel& channel, int32_t& channelDelta, uint8_t actual) {
  const int32_t predicted = channel.predictNext(channelDelta);
  const uint8_t codedDelta = uint8_t(predicted - actual);
  channel.record(codedDelta, predicted - codedDelta, channelDelta);
  return codedDelta;
}
