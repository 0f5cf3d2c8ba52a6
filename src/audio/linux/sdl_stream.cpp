#include "audio/linux/sdl_stream.h"

#include <SDL.h>

#include <algorithm>
#include <chrono>
#include <mutex>

namespace {

using Clock = std::chrono::steady_clock;

// The device buffer: 1024 frames, about 23 ms.
constexpr Uint16 kDeviceBufferFrames = 1024;

} // namespace

struct SdlStream::State {
  SDL_AudioDeviceID device = 0;
  RingPlayback* ring = nullptr;

  // Guards the progress below, which the callback updates: how much of the
  // newest chunk the ring gave, when that callback ran, and the last position
  // reported, so that readings never go backwards.
  std::mutex mutex;
  std::uint32_t newestChunk = 0;
  Clock::time_point newestCallback{};
  std::uint64_t bytesReported = 0;

  // Between two callbacks the position moves at the nominal rate from the
  // start of the newest chunk, held within that chunk: never ahead of what the
  // device has taken, never more than one device buffer behind it, never back.
  std::uint64_t bytesPlayedNow() {
    const std::uint64_t taken = ring->bytesTaken();
    const std::uint64_t chunkStart = taken - std::min<std::uint64_t>(newestChunk, taken);
    // Capped at a second so that the product cannot overflow; the result is
    // held within one chunk anyway.
    const std::int64_t elapsedNs = std::clamp<std::int64_t>(
        std::chrono::duration_cast<std::chrono::nanoseconds>(Clock::now() - newestCallback).count(),
        0, 1'000'000'000);
    const std::uint64_t advance =
        static_cast<std::uint64_t>(elapsedNs) * kSampleRate / 1'000'000'000 * kBytesPerFrame;
    const std::uint64_t lowest = std::max(bytesReported, chunkStart);
    bytesReported = std::clamp(chunkStart + advance, lowest, std::max(lowest, taken));
    return bytesReported;
  }
};

namespace {

void feedDevice(void* userdata, Uint8* stream, int length) {
  auto& state = *static_cast<SdlStream::State*>(userdata);
  // Under the progress mutex, so that no reading sees the ring's count with
  // the chunk before this one.
  const std::lock_guard guard(state.mutex);
  const std::uint32_t taken = state.ring->take(stream, static_cast<std::uint32_t>(length));
  if (taken == 0)
    return;
  state.newestChunk = taken;
  state.newestCallback = Clock::now();
}

} // namespace

SdlStream::~SdlStream() {
  close();
}

bool SdlStream::open(RingPlayback& ring) {
  close();
  if (SDL_InitSubSystem(SDL_INIT_AUDIO) != 0)
    return false;
  state = new State;
  state->ring = &ring;
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

void SdlStream::start() {
  if (state && state->device != 0)
    SDL_PauseAudioDevice(state->device, 0);
}

void SdlStream::positioned() {
  if (!state)
    return;
  const std::lock_guard guard(state->mutex);
  state->newestChunk = 0;
  state->bytesReported = 0;
}

std::uint64_t SdlStream::playedBytes() {
  if (!state)
    return 0;
  const std::lock_guard guard(state->mutex);
  return state->bytesPlayedNow();
}

void SdlStream::close() {
  if (!state)
    return;
  if (state->device != 0)
    SDL_CloseAudioDevice(state->device);
  delete state;
  state = nullptr;
  SDL_QuitSubSystem(SDL_INIT_AUDIO);
}
