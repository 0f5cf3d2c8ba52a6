#include "audio/playback_follower.h"

#include "audio/sound_buffer.h"

#include <algorithm>

void PlaybackFollower::reset() {
  started = false;
  position = 0.0;
}

std::uint64_t PlaybackFollower::follow(std::uint64_t readingBytes, Clock::time_point now) {
  const auto reading = static_cast<double>(readingBytes);
  if (!started) {
    started = true;
    position = reading;
  } else {
    const double elapsed = std::max(0.0, std::chrono::duration<double>(now - readAt).count());
    const double fastest = position + elapsed * kBytesPerSecond * (1.0 + kCatchUp);
    position = std::clamp(reading, position, fastest);
  }
  readAt = now;
  const auto bytes = static_cast<std::uint64_t>(position);
  return bytes - bytes % kBytesPerFrame;
}
