// SoundBuffer on SDL2: a ring of one second that SDL's audio callback plays
// round and round. The play cursor is the callback's read position, advanced
// between callbacks from the elapsed time so that it moves smoothly instead of
// in steps of one device buffer.
#include "audio/sound_buffer.h"

#include "audio/pcm_ring.h"

#include <SDL.h>

#include <algorithm>
#include <chrono>
#include <mutex>

namespace {

using Clock = std::chrono::steady_clock;

// The device buffer: 1024 frames, about 23 ms.
constexpr Uint16 kDeviceBufferFrames = 1024;

} // namespace

struct SoundBuffer::State {
  SDL_AudioDeviceID device = 0;

  // Guards everything below; the audio callback takes it too.
  std::mutex mutex;
  PcmRing ring;
  std::uint32_t readPosition = 0; // next ring byte the callback hands to the device
  std::uint32_t playStart = 0;    // ring offset where the cursor stood at the last reset
  bool playing = false;

  // Progress since the last reset, in bytes: what the device has taken, how
  // much of it came with the newest callback and when that callback ran.
  std::uint64_t bytesTaken = 0;
  std::uint32_t newestChunk = 0;
  Clock::time_point newestCallback{};
  // The last cursor reported, so that readings never go backwards.
  std::uint64_t bytesReported = 0;

  void resetProgress(std::uint32_t position) {
    readPosition = position;
    playStart = position;
    bytesTaken = 0;
    newestChunk = 0;
    bytesReported = 0;
  }

  // Where the cursor stands now, in bytes since the last reset. Between two
  // callbacks it moves at the nominal rate from the start of the newest chunk,
  // held within that chunk: never ahead of what the device has taken, never
  // more than one device buffer behind it, and never back.
  std::uint64_t bytesPlayedNow() {
    const std::uint64_t chunkStart = bytesTaken - newestChunk;
    // Capped at a second so that the product cannot overflow; the result is
    // held within one chunk anyway.
    const std::int64_t elapsedNs = std::clamp<std::int64_t>(
        std::chrono::duration_cast<std::chrono::nanoseconds>(Clock::now() - newestCallback).count(),
        0, 1'000'000'000);
    const std::uint64_t advance =
        static_cast<std::uint64_t>(elapsedNs) * kSampleRate / 1'000'000'000 * kBytesPerFrame;
    const std::uint64_t lowest = std::max(bytesReported, chunkStart);
    bytesReported = std::clamp(chunkStart + advance, lowest, bytesTaken);
    return bytesReported;
  }
};

namespace {

void feedDevice(void* userdata, Uint8* stream, int length) {
  auto& state = *static_cast<SoundBuffer::State*>(userdata);
  const std::lock_guard guard(state.mutex);
  const auto bytes = static_cast<std::uint32_t>(length);
  if (!state.playing) {
    std::fill(stream, stream + bytes, 0);
    return;
  }
  state.ring.read(stream, bytes, state.readPosition);
  state.bytesTaken += bytes;
  state.newestChunk = bytes;
  state.newestCallback = Clock::now();
}

} // namespace

SoundBuffer::~SoundBuffer() {
  release();
}

bool SoundBuffer::create(WindowHandle) {
  release();
  if (SDL_InitSubSystem(SDL_INIT_AUDIO) != 0)
    return false;
  state = new State;
  SDL_AudioSpec wanted{};
  wanted.freq = static_cast<int>(kSampleRate);
  wanted.format = AUDIO_S16LSB;
  wanted.channels = 2;
  wanted.samples = kDeviceBufferFrames;
  wanted.callback = feedDevice;
  wanted.userdata = state;
  // No changes allowed: SDL converts to whatever the device really wants.
  state->device = SDL_OpenAudioDevice(nullptr, 0, &wanted, nullptr, 0);
  return state->device != 0;
}

bool SoundBuffer::lock(std::uint32_t offset, std::uint32_t bytes, LockedRegions& regions) {
  if (!state || state->device == 0)
    return false;
  const std::lock_guard guard(state->mutex);
  return state->ring.lock(offset, bytes, regions);
}

bool SoundBuffer::lockEntireBuffer(LockedRegions& regions) {
  return lock(0, kSoundBufferBytes, regions);
}

void SoundBuffer::unlock(const LockedRegions& regions) {
  if (!state)
    return;
  const std::lock_guard guard(state->mutex);
  state->ring.unlock(regions);
}

void SoundBuffer::setPlayPosition(std::uint32_t offset) {
  if (!state || offset >= kSoundBufferBytes)
    return;
  const std::lock_guard guard(state->mutex);
  state->resetProgress(offset - offset % kBytesPerFrame);
}

void SoundBuffer::playLooping() {
  if (!state || state->device == 0)
    return;
  {
    const std::lock_guard guard(state->mutex);
    if (state->playing)
      return;
    state->playing = true;
  }
  // Outside our mutex: SDL holds its device lock while it runs the callback,
  // which takes our mutex.
  SDL_PauseAudioDevice(state->device, 0);
}

bool SoundBuffer::playCursor(std::uint32_t& cursor) {
  if (!state || state->device == 0)
    return false;
  const std::lock_guard guard(state->mutex);
  const std::uint64_t played = state->playing ? state->bytesPlayedNow() : 0;
  cursor = static_cast<std::uint32_t>((state->playStart + played) % kSoundBufferBytes);
  return true;
}

// A software ring is never lost.
bool SoundBuffer::restore() {
  return state && state->device != 0;
}

void SoundBuffer::release() {
  if (!state)
    return;
  if (state->device != 0)
    SDL_CloseAudioDevice(state->device);
  delete state;
  state = nullptr;
  SDL_QuitSubSystem(SDL_INIT_AUDIO);
}

// The cursor runs from the start of the newest chunk at the moment its
// callback ran, a device buffer behind what the device has taken; the sound
// server holds about that much after the callback before it is heard. So
// the cursor is already what is heard: measured end to end against a
// PulseAudio sink, within a few milliseconds.
std::uint32_t SoundBuffer::outputLatencyBytes() {
  return 0;
}
