// SoundBuffer on Linux: a ring of one second played through the sound
// server's own stream when a PulseAudio-protocol server answers (PulseAudio,
// or PipeWire's pulse server), else through SDL2's audio callback. Setting
// SDL_AUDIODRIVER hands the choice of driver to SDL.
#include "audio/linux/pulse_stream.h"
#include "audio/linux/sdl_stream.h"
#include "audio/ring_sound_buffer.h"

#include <cstdlib>

struct SoundBuffer::State {
  RingPlayback ring;
  PulseStream pulse;
  SdlStream sdl;
  bool onPulse = false;
  bool open = false;
};

RingPlayback* RingOutput::openRing(SoundBuffer::State* state) {
  return state && state->open ? &state->ring : nullptr;
}

void RingOutput::start(SoundBuffer::State& state) {
  if (state.onPulse)
    state.pulse.start();
  else
    state.sdl.start();
}

void RingOutput::positioned(SoundBuffer::State& state) {
  if (state.onPulse)
    state.pulse.positioned();
  else
    state.sdl.positioned();
}

// On the server's stream the cursor is what is heard; until the server has
// reported the stream's timing once, nothing has been heard.
std::uint64_t RingOutput::playedBytes(SoundBuffer::State& state) {
  std::uint64_t played = 0;
  if (state.onPulse)
    state.pulse.heardBytes(played);
  else
    played = state.sdl.playedBytes();
  return played;
}

SoundBuffer::SoundBuffer() = default;

SoundBuffer::~SoundBuffer() {
  release();
}

bool SoundBuffer::create(WindowHandle) {
  release();
  state = std::make_unique<State>();
  if (!std::getenv("SDL_AUDIODRIVER")) {
    state->onPulse = state->pulse.open(state->ring);
    if (!state->onPulse)
      state->pulse.close();
  }
  state->open = state->onPulse || state->sdl.open(state->ring);
  return state->open;
}

void SoundBuffer::release() {
  if (!state)
    return;
  state->pulse.close();
  state->sdl.close();
  state.reset();
}

// The server's stream time already leaves out what the sink still holds. On
// SDL the cursor runs from the start of the newest chunk at the moment its
// callback ran, a device buffer behind what the device has taken, which is
// about what the sound server holds after the callback.
std::uint32_t SoundBuffer::outputLatencyBytes() {
  return 0;
}
