#pragma once

#include "audio/sound_buffer.h"

#include <chrono>
#include <cstdint>

// A play cursor that the device moves in steps (Wine's DirectSound moves it
// one 10 ms mixing period at a time) read as one that moves at the nominal
// rate, so that the clock, read once a frame, advances every frame instead of
// standing for 10 ms and jumping. Within a step the position runs at the
// nominal rate from where the step started and stops at the device's cursor:
// it is never ahead of the device, so a refill up to it never overwrites
// what is still to be played, and it never goes back.
//
// Positions are byte offsets in the looping buffer of kSoundBufferBytes.
class SteppedCursor {
public:
  using Clock = std::chrono::steady_clock;

  // At most this much of a step is spread over time; the rest of a longer
  // one (the device caught up after a stall) is taken at once, as the device
  // took it. Two 10 ms periods, so that a step that comes late is still
  // spread.
  static constexpr std::uint32_t kLongestSpreadBytes = 2 * kBytesPerSecond / 100;

  // The position for the device's cursor `deviceCursor`, read at `now`.
  std::uint32_t read(std::uint32_t deviceCursor, Clock::time_point now);

  // The next reading is taken as it is (the cursor was set, or the buffer
  // restored).
  void reset() { started = false; }

private:
  bool started = false;
  std::uint32_t deviceAt = 0;  // the device's cursor since its newest step
  std::uint32_t stepStart = 0; // where the position began that step from
  Clock::time_point stepSeen{};
};
