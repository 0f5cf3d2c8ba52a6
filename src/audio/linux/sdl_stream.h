#pragma once

#include "audio/ring_playback.h"

#include <cstdint>

// Playback through SDL2's audio callback, for systems without a PulseAudio-
// protocol server: SDL picks the driver (ALSA, JACK, its own PipeWire one,
// or a driver named by SDL_AUDIODRIVER). The position is the callback's read
// position, advanced between callbacks from the elapsed time so that it moves
// smoothly instead of in steps of one device buffer.
class SdlStream {
public:
  SdlStream() = default;
  ~SdlStream();
  SdlStream(const SdlStream&) = delete;
  SdlStream& operator=(const SdlStream&) = delete;

  // Opens the default device, paused, reading `ring` once it plays. False
  // when SDL has no usable device.
  bool open(RingPlayback& ring);
  void start();
  // Playback was positioned anew: progress counts from here.
  void positioned();
  // Bytes played since the last positioning, smooth and never going back.
  std::uint64_t playedBytes();
  void close();

  struct State;

private:
  State* state = nullptr;
};
