// SoundBuffer on Linux: a ring of one second played through the sound
// server's own stream when a PulseAudio-protocol server answers (PulseAudio,
// or PipeWire's pulse server), else through SDL2's audio callback. Setting
// SDL_AUDIODRIVER hands the choice of driver to SDL.
#include "audio/linux/pulse_stream.h"
#include "audio/linux/sdl_stream.h"
#include "audio/ring/ring_sound_buffer.h"

#include <cstdlib>

struct SoundBuffer::State {
  PcmRing ring;
  PulseStream pulse;
  SdlStream sdl;
  bool onPulse = false;
  bool open = false;
};

PcmRing* openRing(SoundBuffer::State* state) {
  return state && state->open ? &state->ring : nullptr;
}

void startOutput(SoundBuffer::State& state) {
  if (state.onPulse)
    state.pulse.start();
  else
    state.sdl.start();
}

void outputPositioned(SoundBuffer::State& state) {
  if (state.onPulse)
    state.pulse.positioned();
  else
    state.sdl.positioned();
}

bool outputHeard(SoundBuffer::State& state, HeardReport& report) {
  return state.onPulse ? state.pulse.heard(report) : state.sdl.heard(report);
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
