// The audio-mode predictor, mirrored exactly from the decoder: each channel
// predicts its next byte from its history and the last delta of any channel,
// and adapts its weights every 32 bytes. The stream carries the difference
// between prediction and actual byte.
#pragma once

#include <cstdint>

namespace pack {

struct AudioChannelState {
  int32_t weight[5] = {};
  int32_t delta[4] = {};
  int32_t lastDelta = 0;
  uint32_t error[11] = {};
  uint32_t count = 0;
  int32_t lastSample = 0; // unreduced, as the decoder keeps it
};

// Returns the delta symbol (0..255) that makes the decoder produce `actual`,
// and advances the channel and `channelDelta` as the decoder will.
uint8_t encodeAudioByte(AudioChannelState& channel, int32_t& channelDelta, uint8_t actual);

} // namespace pack
