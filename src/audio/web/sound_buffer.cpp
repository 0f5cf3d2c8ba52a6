// SoundBuffer in the browser: a ring of one second that a Web Audio script
// processor plays round and round. The processor's callback runs on the
// page's main thread between frames and takes the music from a RingPlayback,
// which the music worker writes from its own thread, as on Linux.
//
// What is heard comes from the callback, which reads the audio context each
// time it runs (every chunk, about 93 ms) and times the chunk it hands over by
// the moment it will be heard: from the context's output timestamp where the
// browser has one (it pairs the context time of the sample the output plays
// now with performance.now()), else from the context's own clock plus the
// latency the context reports. That latency (baseLatency + outputLatency) is
// read at every callback too and kept for outputLatencyBytes(), which the
// music worker asks for at every refill without calling into the page.
//
// The play cursor is where the music leaves the audio context: what is heard
// plus that latency. The player subtracts outputLatencyBytes() from it again,
// so the latency is counted once and the clock follows what is heard, however
// the latency changes. The cursor moves from the newest chunk's heard time at
// the nominal rate, never back and never past what the callbacks have handed
// over: while the output stalls (no callbacks: the context suspended, the page
// frozen) it stops at the end of the last chunk, and after a resume it stays
// there until the next chunk is heard. A correction forwards is caught up
// gradually, so that the clock never jumps.
#include "audio/ring_sound_buffer.h"

#include <emscripten.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <mutex>
#include <vector>

namespace {

// Frames per callback: about 93 ms, so that a slow frame does not starve the
// output.
constexpr int kChunkFrames = 4096;
// Each chunk's start is predicted from the one before; a measured start
// pulls the prediction by this share, so that the cursor moves smoothly. A
// start further off than kResyncMs is taken as it is (the output stalled, or
// a callback ran late).
constexpr double kStartCorrection = 0.1;
constexpr double kResyncMs = 50.0;
// A cursor behind its estimate (after a correction forwards) catches up at
// most this much faster than the nominal rate, so that the clock never jumps:
// 10 ms of difference take 20 ms. The large corrections come from chunks that
// the browser dropped while the page's thread was held up (callbacks that
// pile up a few ms apart overwrite each other's output): a whole chunk is
// caught up in about 190 ms.
constexpr double kCatchUp = 0.5;

constexpr double kBytesPerMs = kBytesPerSecond / 1000.0;
constexpr double kChunkMs = kChunkFrames * kBytesPerFrame / kBytesPerMs;

// A latency in whole frames' bytes; nonsense (negative, not a number, more
// than the ring) counts as none or as the ring.
std::uint32_t bytesOfSeconds(double seconds) {
  const double frames = seconds > 0.0 ? seconds * kSampleRate : 0.0;
  return static_cast<std::uint32_t>(std::min(frames, double{kSampleRate})) * kBytesPerFrame;
}

// Milliseconds on a clock that the page and its workers share. Each worker's
// performance.now() counts from its own start, and emscripten_get_now()
// corrects that only by an estimate made when the worker started (off by as
// long as the start message took); the time origin makes both exact.
EM_JS(double, sharedNowMs, (), { return performance.timeOrigin + performance.now(); });

} // namespace

struct SoundBuffer::State {
  int context = 0; // the page's handle of the audio context, 0 when none

  // What the context and the system hold after the context's graph, as the
  // newest callback read it: written on the main thread, read by the worker.
  std::atomic<std::uint32_t> latencyBytes{0};

  RingPlayback ring;

  // Guards the progress below, which the audio callback updates; taken
  // before the ring's own lock. Progress since the last positioning, in bytes
  // of ring.bytesTaken(): where the newest chunk begins, the context time it
  // was scheduled for, when (sharedNowMs() time) it is heard, and when it
  // would have been heard right after the chunk before.
  std::mutex mutex;
  std::uint64_t newestChunkStart = 0;
  double newestChunkPlaybackTime = 0.0;
  double newestChunkHeardAt = 0.0;
  double newestChunkDueAt = 0.0;
  bool started = false;
  // The last cursor reported (in bytes, with the fraction of a frame kept)
  // and when: readings never go backwards, nor further ahead than kCatchUp
  // allows.
  double positionReported = 0.0;
  double reportedAt = 0.0;

  // A chunk's samples as the ring holds them, and converted for Web Audio:
  // left, then right.
  std::vector<std::int16_t> pcm = std::vector<std::int16_t>(2 * kChunkFrames);
  std::vector<float> channels = std::vector<float>(2 * kChunkFrames);

  void resetProgress() {
    newestChunkStart = 0;
    started = false;
    positionReported = 0.0;
  }

  // Where the cursor stands now, in whole frames' bytes since the last reset:
  // what is heard, from the newest chunk's heard time at the nominal rate,
  // plus the latency. A newest chunk heard later than due leaves a gap after
  // the chunk before, which plays on to its end meanwhile. Never back, never
  // ahead of what has been handed over, and catching up on an estimate
  // further ahead gradually.
  std::uint64_t bytesPlayedNow() {
    const double now = sharedNowMs();
    if (started) {
      const auto start = static_cast<double>(newestChunkStart);
      const double heard =
          std::max(start + (now - newestChunkHeardAt) * kBytesPerMs,
                   std::min(start, start + (now - newestChunkDueAt) * kBytesPerMs));
      const double estimate = heard + latencyBytes;
      const double caughtUp =
          positionReported + std::max(0.0, now - reportedAt) * kBytesPerMs * (1.0 + kCatchUp);
      const double most = std::min(caughtUp, static_cast<double>(ring.bytesTaken()));
      positionReported = std::clamp(estimate, positionReported, std::max(positionReported, most));
    }
    reportedAt = now;
    return static_cast<std::uint64_t>(positionReported) / kBytesPerFrame * kBytesPerFrame;
  }

  // One chunk of the ring for the output, into `channels`: scheduled for
  // context time `playbackTime` and heard at `heardAtMs` (sharedNowMs() time).
  // False (and nothing taken) while not playing.
  bool takeChunk(int frames, double playbackTime, double heardAtMs) {
    if (!ring.isPlaying())
      return false;
    // A browser whose page thread was held up runs the callbacks it missed
    // one after the other once the thread is free, all with the same
    // playback time; they fill the same two output buffers over and over, so
    // only the last two are played. Those get the newest chunk again instead
    // of new music: the music goes on where it stopped, and the cursor stands
    // still for the gap instead of jumping over chunks nobody heard.
    if (started && playbackTime <= newestChunkPlaybackTime)
      return true;
    const std::uint64_t taken = ring.bytesTaken();
    ring.take(reinterpret_cast<std::uint8_t*>(pcm.data()),
              static_cast<std::uint32_t>(frames) * kBytesPerFrame);
    const double due =
        started ? newestChunkHeardAt + static_cast<double>(taken - newestChunkStart) / kBytesPerMs
                : heardAtMs;
    newestChunkHeardAt = std::abs(heardAtMs - due) < kResyncMs
                             ? due + kStartCorrection * (heardAtMs - due)
                             : heardAtMs;
    // A browser gives a callback that runs late a playback time as late as it
    // ran, though its chunk still follows the one before without a gap: it
    // reached the output in time. Later than that (by a chunk or more) the
    // callbacks would have piled up, so a chunk that much later than due
    // follows a gap in the output (a stall), and the chunk before stopped
    // where the output did.
    newestChunkDueAt = heardAtMs - due < kChunkMs ? due : heardAtMs;
    started = true;
    newestChunkStart = taken;
    newestChunkPlaybackTime = playbackTime;
    for (int frame = 0; frame < frames; ++frame) {
      channels[frame] = pcm[2 * frame] / 32768.0f;
      channels[kChunkFrames + frame] = pcm[2 * frame + 1] / 32768.0f;
    }
    return true;
  }
};

namespace {

// Called by the page's script processor with what it has just read from the
// audio context: the next chunk, left channel then right, or null while
// nothing plays (the chunk stays silent).
extern "C" EMSCRIPTEN_KEEPALIVE float* vizTakeAudioChunk(SoundBuffer::State* state, int frames,
                                                         double playbackTime, double heardAtMs,
                                                         double latencySeconds) {
  state->latencyBytes = bytesOfSeconds(latencySeconds);
  const std::lock_guard guard(state->mutex);
  if (!state->takeChunk(std::min(frames, kChunkFrames), playbackTime, heardAtMs))
    return nullptr;
  return state->channels.data();
}

// Makes the audio context (inside the page's start gesture, so that it may
// play) and its script processor, silent until started. The context runs at
// the music's rate; the browser converts for the device. Returns its handle,
// or 0 when the page has no Web Audio.
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
    const latency = (context.baseLatency || 0) + (context.outputLatency || 0);
    // When the chunk is heard, on the clock of sharedNowMs(). The output
    // timestamp is all zeros until the output has played.
    const stamp = context.getOutputTimestamp ? context.getOutputTimestamp() : null;
    const heardAt =
        performance.timeOrigin +
        (stamp && stamp.performanceTime > 0
             ? stamp.performanceTime + (event.playbackTime - stamp.contextTime) * 1000
             : performance.now() + (event.playbackTime - context.currentTime + latency) * 1000);
    const channels = _vizTakeAudioChunk(state, frames, event.playbackTime, heardAt, latency) >> 2;
    if (channels == 0) {
      output.getChannelData(0).fill(0);
      output.getChannelData(1).fill(0);
      return;
    }
    output.getChannelData(0).set(HEAPF32.subarray(channels, channels + frames));
    output.getChannelData(1).set(
        HEAPF32.subarray(channels + chunkFrames, channels + chunkFrames + frames));
  };
  return (Module.vizAudio = Module.vizAudio || []).push({context, processor, state});
});

// What a new context reports before it plays: a first figure for
// outputLatencyBytes() until the callbacks read the real one.
EM_JS(double, audioContextLatencySeconds, (int handle), {
  const context = Module.vizAudio[handle - 1].context;
  return (context.baseLatency || 0) + (context.outputLatency || 0);
});

// Stops the callbacks and the context; the state they point at is about to go.
EM_JS(void, closeAudioContext, (int handle), {
  const audio = Module.vizAudio[handle - 1];
  audio.state = 0;
  audio.processor.onaudioprocess = null;
  audio.processor.disconnect();
  audio.context.close();
  // Every pause and seek makes a new context: the closed one is let go.
  Module.vizAudio[handle - 1] = null;
});

} // namespace

RingPlayback* RingOutput::openRing(SoundBuffer::State* state) {
  return state && state->context != 0 ? &state->ring : nullptr;
}

// The worker starts playback; the context lives on the main thread.
void RingOutput::start(SoundBuffer::State& state) {
  MAIN_THREAD_ASYNC_EM_ASM(
      {
        // A context closed since (a seek, a pause) stays closed.
        const audio = Module.vizAudio[$0 - 1];
        if (!audio)
          return;
        audio.processor.connect(audio.context.destination);
        audio.context.resume();
      },
      state.context);
}

void RingOutput::positioned(SoundBuffer::State& state) {
  const std::lock_guard guard(state.mutex);
  state.resetProgress();
}

std::uint64_t RingOutput::playedBytes(SoundBuffer::State& state) {
  const std::lock_guard guard(state.mutex);
  return state.bytesPlayedNow();
}

SoundBuffer::SoundBuffer() = default;

SoundBuffer::~SoundBuffer() {
  release();
}

bool SoundBuffer::create(WindowHandle) {
  release();
  state = std::make_unique<State>();
  state->context = openAudioContext(state.get(), static_cast<int>(kSampleRate), kChunkFrames);
  if (state->context == 0)
    return false;
  state->latencyBytes = bytesOfSeconds(audioContextLatencySeconds(state->context));
  return true;
}

void SoundBuffer::release() {
  if (!state)
    return;
  if (state->context != 0)
    closeAudioContext(state->context);
  state.reset();
}

// What the newest callback read from the context (before the first one, what
// the context reported when it was made). Called by the music worker, so it
// reads no JavaScript.
std::uint32_t SoundBuffer::outputLatencyBytes() {
  if (!state || state->context == 0)
    return 0;
  return state->latencyBytes;
}
