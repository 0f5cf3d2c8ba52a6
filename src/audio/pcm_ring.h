#pragma once

#include "audio/sound_buffer.h"

#include <cstdint>
#include <vector>

// The memory of a software SoundBuffer: a ring of kSoundBufferBytes bytes
// (silence at first) that a device reads from, and a staging area that a lock
// hands out. The owner writes into the staging area with no lock held and the
// unlock copies it into the ring, so the device reader and the writer never
// touch the same bytes at the same time. Not thread-safe by itself: the owner
// calls it under its own mutex.
class PcmRing {
public:
  PcmRing();

  // Copies the ring's bytes at [offset, offset + bytes), wrapping, into the
  // staging area and points `regions` at them. False for a range out of
  // bounds or while a lock is outstanding.
  bool lock(std::uint32_t offset, std::uint32_t bytes, LockedRegions& regions);
  // Copies the staging area back into the ring. False (and nothing copied)
  // unless `regions` are exactly those of the outstanding lock.
  bool unlock(const LockedRegions& regions);

  // Copies `bytes` bytes from the ring at `position` into `destination`,
  // wrapping, and moves `position` past them.
  void read(std::uint8_t* destination, std::uint32_t bytes, std::uint32_t& position) const;

  const std::vector<std::uint8_t>& contents() const { return ring; }

private:
  std::vector<std::uint8_t> ring;
  std::vector<std::uint8_t> staging;
  bool locked = false;
  LockedRegions lockedRegions;
  std::uint32_t lockedOffset = 0;
};
