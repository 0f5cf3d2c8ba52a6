#pragma once

// The DirectSound backend's state, shared by its three parts: the device
// (sound_buffer.cpp), the listener that measures the output latency under
// Wine (listener.cpp) and the diagnostic trace (playback_trace.cpp).
#include "audio/dsound/heard_latency.h"
#include "audio/dsound/playback_log.h"
#include "audio/sound_buffer.h"

#include <windows.h>

#include <dsound.h>

#include <atomic>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

struct SoundBuffer::State {
  HMODULE library = nullptr;
  IDirectSound* directSound = nullptr;
  IDirectSoundBuffer* primaryBuffer = nullptr;
  IDirectSoundBuffer* streamBuffer = nullptr;

  // How far what is heard trails the play cursor, in bytes: the audio
  // layer's figure under Wine, then the listener's; 0 on Windows itself.
  std::atomic<std::uint32_t> outputLatency{0};

  // Every reader of the play cursor (the clock, the refills, the listener)
  // goes through readPlayCursor(), under `cursorLock`: the bytes it has
  // passed since it was positioned, and when that count last moved (the
  // device moves the cursor in steps: Wine one 10 ms mixing period at a
  // time).
  std::mutex cursorLock;
  std::uint32_t cursorAt = 0;
  std::uint64_t travelled = 0;
  HeardReport::Clock::time_point stepSeen{};

  // The trace (VIRIZ_AUDIO_LOG) and its sampler thread.
  PlaybackLog log;
  std::thread sampler;
  std::atomic<bool> stopSampling{false};
  std::atomic<std::int64_t> playStarted{0};

  // The listener (under Wine). It needs the music in the order written: how
  // much of a locked range the owner filled shows only when the next lock
  // begins where the writing stopped (`written`), so each unlocked range
  // waits in `unlockedMusic` until then. `writing` guards these.
  std::unique_ptr<HeardLatency> heard;
  std::mutex writing;
  WrittenCount written{kSoundBufferBytes};
  std::vector<std::int16_t> unlockedMusic;
  std::thread listener;
  std::atomic<bool> stopListening{false};
};

// The play cursor as the device gives it, counted on; false when the device
// gives none.
bool readPlayCursor(SoundBuffer::State& state, std::uint32_t& cursor);

// The listener's side of the device's locks. noteLock() returns the bytes
// written before the lock.
std::uint64_t noteLock(SoundBuffer::State& state, std::uint32_t offset);
void noteWholeFill(SoundBuffer::State& state);
void noteUnlock(SoundBuffer::State& state, const LockedRegions& regions);
// Starts listening, unless VIRIZ_AUDIO_LISTEN=0; stopListening() is safe when
// it never started.
void startListening(SoundBuffer::State& state);
void stopListening(SoundBuffer::State& state);

// The trace: opened when VIRIZ_AUDIO_LOG names a file.
void startTrace(SoundBuffer::State& state, bool underWine);
void traceCursors(SoundBuffer::State& state, const char* event);
void stopTrace(SoundBuffer::State& state);
