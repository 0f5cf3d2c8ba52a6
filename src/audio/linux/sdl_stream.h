#pragma once

#include "audio/ring/pcm_ring.h"

#include <cstdint>

// Playback through SDL2's audio callback, for systems without a PulseAudio-
// protocol server: SDL picks the driver (ALSA, JACK, its own PipeWire one,
// or a driver named by SDL_AUDIODRIVER). What is heard is the callback's read
// position: each callback's chunk starts playing as the callback runs.
class SdlStream {
public:
  SdlStream() = default;
  ~SdlStream();
  SdlStream(const SdlStream&) = delete;
  SdlStream& operator=(const SdlStream&) = delete;

  // Opens the default device, paused, reading `ring` once it plays. False
  // when SDL has no usable device.
  bool open(PcmRing& ring);
  void start();
  // Playback was positioned anew: what is heard counts from here.
  void positioned();
  // The newest callback's chunk as what is heard since the last positioning;
  // false before the first.
  bool heard(HeardReport& report);
  void close();

  struct State;

private:
  State* state = nullptr;
};
