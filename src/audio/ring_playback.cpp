#include "audio/ring_playback.h"

#include <algorithm>
#include <cstring>

bool RingPlayback::lock(std::uint32_t offset, std::uint32_t bytes, LockedRegions& regions) {
  const std::lock_guard guard(mutex);
  return ring.lock(offset, bytes, regions);
}

void RingPlayback::unlock(const LockedRegions& regions) {
  const std::lock_guard guard(mutex);
  ring.unlock(regions);
}

void RingPlayback::setPlayPosition(std::uint32_t offset) {
  if (offset >= kSoundBufferBytes)
    return;
  const std::lock_guard guard(mutex);
  readPosition = offset - offset % kBytesPerFrame;
  playStart = readPosition;
  taken = 0;
}

bool RingPlayback::startPlaying() {
  const std::lock_guard guard(mutex);
  const bool wasPlaying = playing;
  playing = true;
  return !wasPlaying;
}

bool RingPlayback::isPlaying() {
  const std::lock_guard guard(mutex);
  return playing;
}

std::uint32_t RingPlayback::take(std::uint8_t* destination, std::uint32_t bytes) {
  const std::lock_guard guard(mutex);
  if (!playing) {
    std::memset(destination, 0, bytes);
    return 0;
  }
  ring.read(destination, bytes, readPosition);
  taken += bytes;
  return bytes;
}

std::uint64_t RingPlayback::bytesTaken() {
  const std::lock_guard guard(mutex);
  return taken;
}

std::uint32_t RingPlayback::cursorAfter(std::uint64_t played) {
  const std::lock_guard guard(mutex);
  const std::uint64_t held = std::min(played, taken);
  return static_cast<std::uint32_t>((playStart + held % kSoundBufferBytes) % kSoundBufferBytes);
}
