// SoundBuffer in the browser: a ring of one second that a Web Audio script
// processor plays round and round. The processor's callback runs on the
// page's main thread between frames; the music worker writes the ring from
// its own thread, so both go through the mutex as on SDL2.
//
// The play cursor follows Web Audio's own clock. Each chunk that the callback
// hands over is scheduled at a time of the audio context; the callback turns
// that into the time of emscripten_get_now() (the same on every thread) at
// which the chunk passes the context's output, and the cursor moves from
// there at the nominal rate. What the context and the system still hold
// after that is outputLatencyBytes().
#include "audio/sound_buffer.h"

#include "audio/pcm_ring.h"

#include <emscripten.h>

#include <algorithm>
#include <cmath>
#include <mutex>
#include <vector>

namespace {

// Frames per callback: about 93 ms, so that a slow frame does not starve the
// output.
constexpr int kChunkFrames = 4096;
// Each chunk's start is predicted from the one before; a measured start
// pulls the prediction by this share, so that the cursor moves smoothly. A
// start further off than kResyncMs is taken as it is (the output stalled).
constexpr double kStartCorrection = 0.1;
constexpr double kResyncMs = 50.0;

constexpr double kBytesPerMs = kBytesPerSecond / 1000.0;

} // namespace

struct SoundBuffer::State {
  int context = 0; // the page's handle of the audio context, 0 when none

  // Guards everything below; the audio callback takes it too.
  std::mutex mutex;
  PcmRing ring;
  std::uint32_t readPosition = 0; // next ring byte the callback hands over
  std::uint32_t playStart = 0;    // ring offset where the cursor stood at the last reset
  bool playing = false;

  // Progress since the last reset, in bytes: what the callbacks have taken,
  // where the newest chunk begins and when (emscripten_get_now() time) it
  // starts to pass the output.
  std::uint64_t bytesTaken = 0;
  std::uint64_t newestChunkStart = 0;
  double newestChunkStartsAt = 0.0;
  bool started = false;
  // The last cursor reported, so that readings never go backwards.
  std::uint64_t bytesReported = 0;

  // A chunk's samples as the ring holds them, and converted for Web Audio:
  // left, then right.
  std::vector<std::int16_t> pcm = std::vector<std::int16_t>(2 * kChunkFrames);
  std::vector<float> channels = std::vector<float>(2 * kChunkFrames);

  void resetProgress(std::uint32_t position) {
    readPosition = position;
    playStart = position;
    bytesTaken = 0;
    newestChunkStart = 0;
    started = false;
    bytesReported = 0;
  }

  // Where the cursor stands now, in bytes since the last reset: from the
  // newest chunk's start at the nominal rate, never ahead of what has been
  // handed over and never back.
  std::uint64_t bytesPlayedNow() {
    if (!started)
      return bytesReported;
    const double sinceStart = (emscripten_get_now() - newestChunkStartsAt) * kBytesPerMs;
    const double estimate = static_cast<double>(newestChunkStart) + sinceStart;
    std::uint64_t bytes =
        estimate <= 0.0 ? 0
                        : static_cast<std::uint64_t>(estimate) / kBytesPerFrame * kBytesPerFrame;
    bytesReported = std::clamp(bytes, bytesReported, std::max(bytesReported, bytesTaken));
    return bytesReported;
  }

  // One chunk of the ring for the output, starting `startsInMs` from now,
  // into `channels`; false (and nothing taken) while not playing.
  bool takeChunk(int frames, double startsInMs) {
    if (!playing)
      return false;
    const auto bytes = static_cast<std::uint32_t>(frames) * kBytesPerFrame;
    ring.read(reinterpret_cast<std::uint8_t*>(pcm.data()), bytes, readPosition);
    const double measured = emscripten_get_now() + startsInMs;
    const double predicted =
        newestChunkStartsAt + static_cast<double>(bytesTaken - newestChunkStart) / kBytesPerMs;
    newestChunkStartsAt = started && std::abs(measured - predicted) < kResyncMs
                              ? predicted + kStartCorrection * (measured - predicted)
                              : measured;
    started = true;
    newestChunkStart = bytesTaken;
    bytesTaken += bytes;
    for (int frame = 0; frame < frames; ++frame) {
      channels[frame] = pcm[2 * frame] / 32768.0f;
      channels[kChunkFrames + frame] = pcm[2 * frame + 1] / 32768.0f;
    }
    return true;
  }
};

namespace {

// Called by the page's script processor: the next chunk, left channel then
// right, or null while nothing plays (the chunk stays silent).
extern "C" EMSCRIPTEN_KEEPALIVE float* vizTakeAudioChunk(SoundBuffer::State* state, int frames,
                                                         double startsInMs) {
  const std::lock_guard guard(state->mutex);
  if (!state->takeChunk(std::min(frames, kChunkFrames), startsInMs))
    return nullptr;
  return state->channels.data();
}

// Makes the audio context (inside the page's start gesture, so that it may
// play) and its script processor, silent until started. The context runs at
// the music's rate; the browser converts for the device. Returns its handle,
// or 0 when the page has no Web Audio. For the page's tests: the context
// (vizAudioContext()), the chunk's length in seconds (vizAudioChunkSeconds)
// and the context time at which the first chunk of music plays
// (vizAudioStartTime, null before).
EM_JS(int, openAudioContext, (SoundBuffer::State * state, int rate, int chunkFrames), {
  const AudioContextClass = window.AudioContext || window.webkitAudioContext;
  if (!AudioContextClass)
    return 0;
  let context;
  try {
    context = new AudioContextClass({sampleRate : rate, latencyHint : 'interactive'});
  } catch (error) {
    return 0;
  }
  const processor = context.createScriptProcessor(chunkFrames, 0, 2);
  processor.onaudioprocess = function(event) {
    const output = event.outputBuffer;
    const frames = output.length;
    const startsInMs = (event.playbackTime - context.currentTime) * 1000;
    const channels = _vizTakeAudioChunk(state, frames, startsInMs) >> 2;
    if (channels == 0) {
      output.getChannelData(0).fill(0);
      output.getChannelData(1).fill(0);
      return;
    }
    if (window.vizAudioStartTime == null)
      window.vizAudioStartTime = event.playbackTime;
    output.getChannelData(0).set(HEAPF32.subarray(channels, channels + frames));
    output.getChannelData(1).set(
        HEAPF32.subarray(channels + chunkFrames, channels + chunkFrames + frames));
  };
  window.vizAudioContext = function() {
    return context;
  };
  window.vizAudioChunkSeconds = chunkFrames / rate;
  window.vizAudioStartTime = null;
  const handle = (Module.vizAudio = Module.vizAudio || []).push({context, processor});
  return handle;
});

EM_JS(void, closeAudioContext, (int handle), {
  const audio = Module.vizAudio[handle - 1];
  audio.processor.onaudioprocess = null;
  audio.processor.disconnect();
  audio.context.close();
});

// What the context reports it holds after its graph, and the system after it.
EM_JS(double, audioContextLatencySeconds, (int handle), {
  const context = Module.vizAudio[handle - 1].context;
  return (context.baseLatency || 0) + (context.outputLatency || 0);
});

} // namespace

SoundBuffer::~SoundBuffer() {
  release();
}

bool SoundBuffer::create(WindowHandle) {
  release();
  state = new State;
  state->context = openAudioContext(state, static_cast<int>(kSampleRate), kChunkFrames);
  return state->context != 0;
}

bool SoundBuffer::lock(std::uint32_t offset, std::uint32_t bytes, LockedRegions& regions) {
  if (!state || state->context == 0)
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
  if (!state || state->context == 0)
    return;
  const std::lock_guard guard(state->mutex);
  if (state->playing)
    return;
  state->playing = true;
  // The worker starts playback; the context lives on the main thread.
  MAIN_THREAD_ASYNC_EM_ASM(
      {
        const audio = Module.vizAudio[$0 - 1];
        audio.processor.connect(audio.context.destination);
        audio.context.resume();
      },
      state->context);
}

bool SoundBuffer::playCursor(std::uint32_t& cursor) {
  if (!state || state->context == 0)
    return false;
  const std::lock_guard guard(state->mutex);
  const std::uint64_t played = state->playing ? state->bytesPlayedNow() : 0;
  cursor = static_cast<std::uint32_t>((state->playStart + played) % kSoundBufferBytes);
  return true;
}

// A software ring is never lost.
bool SoundBuffer::restore() {
  return state && state->context != 0;
}

void SoundBuffer::release() {
  if (!state)
    return;
  if (state->context != 0)
    closeAudioContext(state->context);
  delete state;
  state = nullptr;
}

std::uint32_t SoundBuffer::outputLatencyBytes() {
  if (!state || state->context == 0)
    return 0;
  const double frames = audioContextLatencySeconds(state->context) * kSampleRate;
  return static_cast<std::uint32_t>(frames) * kBytesPerFrame;
}
