#include "audio/ring_sound_buffer.h"

using namespace RingOutput;

bool SoundBuffer::lock(std::uint32_t offset, std::uint32_t bytes, LockedRegions& regions) {
  RingPlayback* ring = openRing(state.get());
  return ring && ring->lock(offset, bytes, regions);
}

bool SoundBuffer::lockEntireBuffer(LockedRegions& regions) {
  return lock(0, kSoundBufferBytes, regions);
}

void SoundBuffer::unlock(const LockedRegions& regions) {
  if (RingPlayback* ring = openRing(state.get()))
    ring->unlock(regions);
}

void SoundBuffer::setPlayPosition(std::uint32_t offset) {
  if (RingPlayback* ring = openRing(state.get())) {
    ring->setPlayPosition(offset);
    positioned(*state);
  }
}

void SoundBuffer::playLooping() {
  RingPlayback* ring = openRing(state.get());
  if (ring && ring->startPlaying())
    start(*state);
}

bool SoundBuffer::playCursor(std::uint32_t& cursor) {
  RingPlayback* ring = openRing(state.get());
  if (!ring)
    return false;
  cursor = ring->cursorAfter(ring->isPlaying() ? playedBytes(*state) : 0);
  return true;
}

// A software ring is never lost.
bool SoundBuffer::restore() {
  return openRing(state.get()) != nullptr;
}
