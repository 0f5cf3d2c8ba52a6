#include "audio/ring/pcm_ring.h"

#include <algorithm>
#include <cstring>

PcmRing::PcmRing() : ring(kSoundBufferBytes, 0), staging(kSoundBufferBytes, 0) {}

bool PcmRing::lock(std::uint32_t offset, std::uint32_t bytes, LockedRegions& regions) {
  const std::lock_guard guard(mutex);
  if (locked || offset >= kSoundBufferBytes || bytes == 0 || bytes > kSoundBufferBytes)
    return false;
  const std::uint32_t firstBytes = std::min(bytes, kSoundBufferBytes - offset);
  const std::uint32_t secondBytes = bytes - firstBytes;
  std::memcpy(staging.data(), ring.data() + offset, firstBytes);
  std::memcpy(staging.data() + firstBytes, ring.data(), secondBytes);
  regions.first = staging.data();
  regions.firstBytes = firstBytes;
  regions.second = secondBytes > 0 ? staging.data() + firstBytes : nullptr;
  regions.secondBytes = secondBytes;
  locked = true;
  lockedRegions = regions;
  lockedOffset = offset;
  return true;
}

bool PcmRing::unlock(const LockedRegions& regions) {
  const std::lock_guard guard(mutex);
  if (!locked || regions.first != lockedRegions.first ||
      regions.firstBytes != lockedRegions.firstBytes || regions.second != lockedRegions.second ||
      regions.secondBytes != lockedRegions.secondBytes)
    return false;
  std::memcpy(ring.data() + lockedOffset, staging.data(), regions.firstBytes);
  std::memcpy(ring.data(), staging.data() + regions.firstBytes, regions.secondBytes);
  locked = false;
  return true;
}

void PcmRing::setPlayPosition(std::uint32_t offset) {
  if (offset >= kSoundBufferBytes)
    return;
  const std::lock_guard guard(mutex);
  nextRead = offset - offset % kBytesPerFrame;
  taken = 0;
}

bool PcmRing::startPlaying() {
  const std::lock_guard guard(mutex);
  const bool wasPlaying = playing;
  playing = true;
  return !wasPlaying;
}

bool PcmRing::isPlaying() {
  const std::lock_guard guard(mutex);
  return playing;
}

std::uint32_t PcmRing::take(std::uint8_t* destination, std::uint32_t bytes) {
  const std::lock_guard guard(mutex);
  if (!playing) {
    std::memset(destination, 0, bytes);
    return 0;
  }
  const std::uint32_t requested = bytes;
  taken += bytes;
  while (bytes > 0) {
    const std::uint32_t run = std::min(bytes, kSoundBufferBytes - nextRead);
    std::memcpy(destination, ring.data() + nextRead, run);
    destination += run;
    bytes -= run;
    nextRead = (nextRead + run) % kSoundBufferBytes;
  }
  return requested;
}

std::uint64_t PcmRing::bytesTaken() {
  const std::lock_guard guard(mutex);
  return taken;
}

std::uint32_t PcmRing::readPosition() {
  const std::lock_guard guard(mutex);
  return nextRead;
}

std::vector<std::uint8_t> PcmRing::contents() {
  const std::lock_guard guard(mutex);
  return ring;
}
