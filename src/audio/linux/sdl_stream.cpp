#include "audio/linux/sdl_stream.h"

#include <SDL.h>

#include <chrono>
#include <mutex>

namespace {

using Clock = HeardReport::Clock;

// The device buffer: 1024 frames, about 23 ms.
constexpr Uint16 kDeviceBufferFrames = 1024;

} // namespace

struct SdlStream::State {
  SDL_AudioDeviceID device = 0;
  PcmRing* ring = nullptr;

  // Guards what the newest callback took: where its chunk begins since the
  // last positioning, how long it is and when it ran. The callback hands the
  // chunk to the device as it runs, and the device plays it from then on.
  std::mutex mutex;
  bool fed = false;
  std::uint64_t newestChunkStart = 0;
  std::uint32_t newestChunk = 0;
  Clock::time_point newestCallback{};
};

namespace {

void feedDevice(void* userdata, Uint8* stream, int length) {
  auto& state = *static_cast<SdlStream::State*>(userdata);
  // Under the progress mutex, so that no reading sees the ring's count with
  // the chunk before this one.
  const std::lock_guard guard(state.mutex);
  const std::uint64_t before = state.ring->bytesTaken();
  const std::uint32_t taken = state.ring->take(stream, static_cast<std::uint32_t>(length));
  if (taken == 0)
    return;
  state.fed = true;
  state.newestChunkStart = before;
  state.newestChunk = taken;
  state.newestCallback = Clock::now();
}

} // namespace

SdlStream::~SdlStream() {
  close();
}

bool SdlStream::open(PcmRing& ring) {
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
  state->fed = false;
}

bool SdlStream::heard(HeardReport& report) {
  if (!state)
    return false;
  const std::lock_guard guard(state->mutex);
  if (!state->fed)
    return false;
  report.frame = static_cast<std::int64_t>(state->newestChunkStart / kBytesPerFrame);
  report.at = state->newestCallback;
  report.reachFrames = state->newestChunk / kBytesPerFrame;
  return true;
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
