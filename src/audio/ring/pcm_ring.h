#pragma once

#include "audio/sound_buffer.h"

#include <cstdint>
#include <mutex>
#include <vector>

// The memory of a software SoundBuffer, for outputs that pull their PCM
// (a sound server's write requests, SDL's audio callback, the browser's
// script processor): a ring of kSoundBufferBytes bytes (silence at first),
// where the output reads next, and how much it has taken since playback was
// last positioned. A lock hands out a staging area that the owner writes
// with no lock held; the unlock copies it into the ring, so the output's
// reader and the writer never touch the same bytes at the same time. The
// output's thread takes bytes while the music worker locks and unlocks, so
// every call takes the ring's one mutex.
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

  // Moves the read position to `offset` (down to a whole frame) and forgets
  // what has been taken so far.
  void setPlayPosition(std::uint32_t offset);
  // Lets take() hand out the ring. False when it was playing already.
  bool startPlaying();
  bool isPlaying();

  // Fills `destination` with the next `bytes` bytes of the ring and moves the
  // read position past them; silence, with nothing taken, while not playing.
  // Returns the bytes taken from the ring.
  std::uint32_t take(std::uint8_t* destination, std::uint32_t bytes);
  // Bytes taken since playback was last positioned.
  std::uint64_t bytesTaken();
  // Where the output reads next: the play cursor of a buffer whose output
  // has its own memory, since what it has taken is free to be refilled.
  std::uint32_t readPosition();

  std::vector<std::uint8_t> contents();

private:
  std::mutex mutex;
  std::vector<std::uint8_t> ring;
  std::vector<std::uint8_t> staging;
  bool locked = false;
  LockedRegions lockedRegions;
  std::uint32_t lockedOffset = 0;
  std::uint32_t nextRead = 0;
  std::uint64_t taken = 0;
  bool playing = false;
};
