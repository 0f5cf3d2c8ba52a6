// SoundBuffer on Linux: a ring of one second played through the sound
// server's own stream when a PulseAudio-protocol server answers (PulseAudio,
// or PipeWire's pulse server), else through SDL2's audio callback. Setting
// SDL_AUDIODRIVER hands the choice of driver to SDL.
#include "audio/sound_buffer.h"

#include "audio/linux/pulse_stream.h"
#include "audio/linux/sdl_stream.h"
#include "audio/ring_playback.h"

#include <cstdlib>

struct SoundBuffer::State {
  RingPlayback ring;
  PulseStream pulse;
  SdlStream sdl;
  bool onPulse = false;
  bool open = false;
};

SoundBuffer::~SoundBuffer() {
  release();
}

bool SoundBuffer::create(WindowHandle) {
  release();
  state = new State;
  if (!std::getenv("SDL_AUDIODRIVER")) {
    state->onPulse = state->pulse.open(state->ring);
    if (!state->onPulse)
      state->pulse.close();
  }
  state->open = state->onPulse || state->sdl.open(state->ring);
  return state->open;
}

bool SoundBuffer::lock(std::uint32_t offset, std::uint32_t bytes, LockedRegions& regions) {
  return state && state->open && state->ring.lock(offset, bytes, regions);
}

bool SoundBuffer::lockEntireBuffer(LockedRegions& regions) {
  return lock(0, kSoundBufferBytes, regions);
}

void SoundBuffer::unlock(const LockedRegions& regions) {
  if (state && state->open)
    state->ring.unlock(regions);
}

void SoundBuffer::setPlayPosition(std::uint32_t offset) {
  if (!state || !state->open)
    return;
  state->ring.setPlayPosition(offset);
  if (state->onPulse)
    state->pulse.positioned();
  else
    state->sdl.positioned();
}

void SoundBuffer::playLooping() {
  if (!state || !state->open || !state->ring.startPlaying())
    return;
  if (state->onPulse)
    state->pulse.start();
  else
    state->sdl.start();
}

// On the server's stream the cursor is what is heard; until the server has
// reported the stream's timing once, nothing has been heard.
bool SoundBuffer::playCursor(std::uint32_t& cursor) {
  if (!state || !state->open)
    return false;
  std::uint64_t played = 0;
  if (!state->ring.isPlaying())
    played = 0;
  else if (state->onPulse)
    state->pulse.heardBytes(played);
  else
    played = state->sdl.playedBytes();
  cursor = state->ring.cursorAfter(played);
  return true;
}

// A software ring is never lost.
bool SoundBuffer::restore() {
  return state && state->open;
}

void SoundBuffer::release() {
  if (!state)
    return;
  state->pulse.close();
  state->sdl.close();
  delete state;
  state = nullptr;
}

// The server's stream time already leaves out what the sink still holds. On
// SDL the cursor runs from the start of the newest chunk at the moment its
// callback ran, a device buffer behind what the device has taken, which is
// about what the sound server holds after the callback.
std::uint32_t SoundBuffer::outputLatencyBytes() {
  return 0;
}
