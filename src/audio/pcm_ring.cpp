#include "audio/pcm_ring.h"

#include <algorithm>
#include <cstring>

PcmRing::PcmRing() : ring(kSoundBufferBytes, 0), staging(kSoundBufferBytes, 0) {}

bool PcmRing::lock(std::uint32_t offset, std::uint32_t bytes, LockedRegions& regions) {
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
  if (!locked || regions.first != lockedRegions.first ||
      regions.firstBytes != lockedRegions.firstBytes || regions.second != lockedRegions.second ||
      regions.secondBytes != lockedRegions.secondBytes)
    return false;
  std::memcpy(ring.data() + lockedOffset, staging.data(), regions.firstBytes);
  std::memcpy(ring.data(), staging.data() + regions.firstBytes, regions.secondBytes);
  locked = false;
  return true;
}

void PcmRing::read(std::uint8_t* destination, std::uint32_t bytes, std::uint32_t& position) const {
  while (bytes > 0) {
    const std::uint32_t run = std::min(bytes, kSoundBufferBytes - position);
    std::memcpy(destination, ring.data() + position, run);
    destination += run;
    bytes -= run;
    position = (position + run) % kSoundBufferBytes;
  }
}
