#include "audio/ring/ring_sound_buffer.h"

bool SoundBuffer::lock(std::uint32_t offset, std::uint32_t bytes, LockedRegions& regions) {
  PcmRing* ring = openRing(state.get());
  return ring && ring->lock(offset, bytes, regions);
}

bool SoundBuffer::lockEntireBuffer(LockedRegions& regions) {
  return lock(0, kSoundBufferBytes, regions);
}

void SoundBuffer::unlock(const LockedRegions& regions) {
  if (PcmRing* ring = openRing(state.get()))
    ring->unlock(regions);
}

void SoundBuffer::setPlayPosition(std::uint32_t offset) {
  if (PcmRing* ring = openRing(state.get())) {
    ring->setPlayPosition(offset);
    outputPositioned(*state);
  }
}

void SoundBuffer::playLooping() {
  PcmRing* ring = openRing(state.get());
  if (ring && ring->startPlaying())
    startOutput(*state);
}

// What the output has taken is in its own memory, so the ring may be
// refilled up to where it reads next.
bool SoundBuffer::playCursor(std::uint32_t& cursor) {
  PcmRing* ring = openRing(state.get());
  if (!ring)
    return false;
  cursor = ring->readPosition();
  return true;
}

// A software ring is never lost.
bool SoundBuffer::restore() {
  return openRing(state.get()) != nullptr;
}

bool SoundBuffer::heard(HeardReport& report) {
  PcmRing* ring = openRing(state.get());
  return ring && ring->isPlaying() && outputHeard(*state, report);
}
