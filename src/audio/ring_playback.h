#pragma once

#include "audio/pcm_ring.h"

#include <cstdint>
#include <mutex>

// The software side of a looping SoundBuffer for outputs that pull their PCM
// from us (SDL's audio callback, a sound server's write requests): the ring of
// one second, where the output reads next, and how much it has taken since
// playback was last positioned. The output's thread takes bytes while the
// music worker locks and unlocks ranges, so every call takes the one mutex.
class RingPlayback {
public:
  bool lock(std::uint32_t offset, std::uint32_t bytes, LockedRegions& regions);
  void unlock(const LockedRegions& regions);

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

  // The ring offset `played` bytes after the last positioning, with `played`
  // held to what the output has taken: a cursor never runs ahead of the data.
  std::uint32_t cursorAfter(std::uint64_t played);

private:
  std::mutex mutex;
  PcmRing ring;
  std::uint32_t readPosition = 0; // next ring byte the output takes
  std::uint32_t playStart = 0;    // ring offset of the last positioning
  std::uint64_t taken = 0;
  bool playing = false;
};
