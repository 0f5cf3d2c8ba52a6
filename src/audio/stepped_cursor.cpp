#include "audio/stepped_cursor.h"

#include <algorithm>

std::uint32_t SteppedCursor::read(std::uint32_t deviceCursor, Clock::time_point now) {
  const std::uint32_t step = bytesAheadInBuffer(deviceAt, deviceCursor);
  // More than half the buffer ahead is a cursor that was moved back, not
  // playback: start over from it.
  if (!started || step > kSoundBufferBytes / 2) {
    started = true;
    deviceAt = stepStart = deviceCursor;
    stepSeen = now;
    return deviceCursor;
  }
  if (step != 0) {
    // The position has reached at most the old cursor; it goes on from there,
    // or from where the spread part of a long step begins.
    stepStart = (deviceCursor + kSoundBufferBytes - std::min(step, kLongestSpreadBytes)) %
                kSoundBufferBytes;
    deviceAt = deviceCursor;
    stepSeen = now;
  }
  const double elapsed = std::max(0.0, std::chrono::duration<double>(now - stepSeen).count());
  const auto spread = static_cast<std::uint32_t>(std::min<double>(
      elapsed * kSampleRate, bytesAheadInBuffer(stepStart, deviceAt) / kBytesPerFrame));
  return (stepStart + spread * kBytesPerFrame) % kSoundBufferBytes;
}
