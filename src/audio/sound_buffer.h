#pragma once

#include "platform/window_handle.h"

#include <chrono>
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

// What a backend knows of what is heard, in one form for every output:
// frame `frame` of the playback (counted from the start of looping play at
// the last positioning) reaches the ear at `at`, and the sound goes on from
// there at the nominal rate for at most `reachFrames` more frames without
// newer news: what the output has been handed after it, or as long as its
// reports can be trusted; 0 while the output stands still. The backend counts
// into `frame` every delay it knows of between the buffer and the ear, so the
// player never corrects it; `at` may lie ahead (an output that times a chunk
// before it plays). The player turns these reports into the demo's clock.
struct HeardReport {
  using Clock = std::chrono::steady_clock;
  std::int64_t frame = 0;
  Clock::time_point at{};
  std::int64_t reachFrames = 0;
};

// One looping PCM buffer of kSoundBufferBytes bytes: the device plays it round
// and round from the play cursor, and the owner writes into ranges it locks.
// The shape (a lock that may wrap into two regions, a buffer the device may
// lose and give back) is that of a DirectSound secondary buffer; a device that
// owns its memory and cannot lose it (a sound server's stream, SDL2, the
// browser) always locks, never reports a loss, and restores trivially. The
// buffer's shape, the play cursor and the refill steps are the player's fixed
// way of streaming; what is heard comes apart from them, through heard().
// Exactly
// one backend implements this class in each build: DirectSound on Windows
// (dsound/), the sound server's stream or SDL2 on Linux (linux/), Web Audio in
// the browser (web/), and the hand-driven device in the tests. The Linux and
// browser backends share their ring and its locking (ring/) and add only
// opening, starting and their reports of what is heard.
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

  // What the device knows now of what is heard (see HeardReport). False
  // while it knows nothing yet: before playback, or until the output has
  // told when its first sound is heard. Cheap, and safe from any thread.
  bool heard(HeardReport& report);

  // Stops playing and releases the buffer, the device and whatever else
  // create() made. Safe at any time, and more than once.
  void release();

  // The backend's own data, defined in its source file.
  struct State;

private:
  // Freed with the object; null until create() and after release().
  std::unique_ptr<State> state;
};
