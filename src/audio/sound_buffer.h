#pragma once

#include "platform/window_handle.h"

#include <cstdint>
#include <memory>

// Output format of the music: 44100 frames per second, 2 channels of signed
// 16-bit little-endian samples.
inline constexpr std::uint32_t kSampleRate = 44100;
inline constexpr std::uint32_t kBytesPerFrame = 4;
inline constexpr std::uint32_t kBytesPerSecond = kSampleRate * kBytesPerFrame;

// The looping stream buffer holds exactly one second.
inline constexpr std::uint32_t kSoundBufferBytes = kBytesPerSecond;

// How far offset `to` lies ahead of offset `from` round the looping buffer;
// 0 when they are equal.
inline std::uint32_t bytesAheadInBuffer(std::uint32_t from, std::uint32_t to) {
  return to >= from ? to - from : to + kSoundBufferBytes - from;
}

// Where a lock put the caller's byte range: it starts in `first` and, when it
// runs past the end of the buffer, goes on in `second` from the buffer's start.
// `second` is null when the range does not wrap.
struct LockedRegions {
  std::uint8_t* first = nullptr;
  std::uint32_t firstBytes = 0;
  std::uint8_t* second = nullptr;
  std::uint32_t secondBytes = 0;
};

// One looping PCM buffer of kSoundBufferBytes bytes: the device plays it round
// and round from the play cursor, and the owner writes into ranges it locks.
// The shape (a lock that may wrap into two regions, a buffer the device may
// lose and give back) is that of a DirectSound secondary buffer; a device that
// owns its memory and cannot lose it (a sound server's stream, SDL2, the
// browser) always locks, never reports a loss, and restores trivially. Exactly
// one backend implements this class in each build: DirectSound on Windows
// (dsound/), the sound server's stream or SDL2 on Linux (linux/), Web Audio in
// the browser (web/), and the hand-driven device in the tests. The Linux and
// browser backends share their ring and its locking (ring_sound_buffer.h) and
// add only opening, starting and their estimate of the cursor.
class SoundBuffer {
public:
  SoundBuffer();
  ~SoundBuffer();
  SoundBuffer(const SoundBuffer&) = delete;
  SoundBuffer& operator=(const SoundBuffer&) = delete;

  // Opens the default output device for `window` (DirectSound ties its
  // cooperative level to it; others ignore it) and creates the buffer,
  // stopped, with the play cursor at 0. False when there is no usable device;
  // whatever was created before the failing step stays for release().
  bool create(WindowHandle window);

  // Locks `bytes` bytes starting at `offset` (0 < bytes <= kSoundBufferBytes,
  // offset < kSoundBufferBytes) for writing. False when the buffer does not
  // exist, the arguments are out of range or the buffer was lost (the owner
  // calls restore() and tries again).
  bool lock(std::uint32_t offset, std::uint32_t bytes, LockedRegions& regions);
  // Locks the whole buffer, as one region starting at byte 0; a buffer lost
  // since it was made is restored first.
  bool lockEntireBuffer(LockedRegions& regions);
  // Hands the regions of the last lock back to the device.
  void unlock(const LockedRegions& regions);

  // Moves the play cursor to `offset`.
  void setPlayPosition(std::uint32_t offset);
  // Starts (or keeps) playing round and round.
  void playLooping();
  // The byte offset the device plays now. False when it cannot be read.
  bool playCursor(std::uint32_t& cursor);
  // Brings back a buffer that the device lost; true when it is usable again.
  // True at once on a device that cannot lose its buffer.
  bool restore();

  // How far what is heard trails the play cursor, in bytes of the music's
  // format: what the output layers after this buffer still hold. 0 when the
  // play cursor is what is heard. The player asks again after every refill,
  // from its worker thread, so the figure may change while playing; the call
  // must be cheap (a backend that measures it does so on its own schedule).
  std::uint32_t outputLatencyBytes();

  // Stops playing and releases the buffer, the device and whatever else
  // create() made. Safe at any time, and more than once.
  void release();

  // The backend's own data, defined in its source file.
  struct State;

private:
  // Freed with the object; null until create() and after release().
  std::unique_ptr<State> state;
};
