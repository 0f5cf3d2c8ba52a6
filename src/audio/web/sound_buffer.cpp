// SoundBuffer in the browser: a ring of one second that a Web Audio script
// processor plays round and round. The processor's callback runs on the
// page's main thread between frames and takes the music from a PcmRing,
// which the music worker writes from its own thread, as on Linux.
//
// What is heard comes from the callback, which reads the audio context each
// time it runs (every chunk, about 93 ms) and times the chunk it hands over by
// the moment it will be heard: from the context's output timestamp where the
// browser has one (it pairs the context time of the sample the output plays
// now with performance.now()), else from the context's own clock plus the
// latency the context reports. Each chunk is one report: its first frame is
// heard then, and the sound goes on to its end. While the output stalls (no
// callbacks: the context suspended, the page frozen) the clock stands at the
// end of the last chunk; a chunk heard later than the one before ends leaves
// a gap, which the clock stands through.
#include "audio/ring/ring_sound_buffer.h"

#include <emscripten.h>

#include <algorithm>
#include <chrono>
#include <mutex>
#include <vector>

namespace {

// Frames per callback: about 93 ms, so that a slow frame does not starve the
// output.
constexpr int kChunkFrames = 4096;

// Milliseconds on a clock that the page and its workers share. Each worker's
// performance.now() counts from its own start, and emscripten_get_now()
// corrects that only by an estimate made when the worker started (off by as
// long as the start message took); the time origin makes both exact.
EM_JS(double, sharedNowMs, (), { return performance.timeOrigin + performance.now(); });

} // namespace

struct SoundBuffer::State {
  int context = 0; // the page's handle of the audio context, 0 when none

  PcmRing ring;

  // Guards the newest chunk, which the audio callback updates: where it
  // begins since the last positioning (in bytes of ring.bytesTaken()), the
  // context time it was scheduled for, and when it is heard (sharedNowMs()
  // time: the callback runs on the page's thread, the clock is read on the
  // program's).
  std::mutex mutex;
  bool started = false;
  std::uint64_t newestChunkStart = 0;
  double newestChunkPlaybackTime = 0.0;
  double newestChunkHeardAtMs = 0.0;

  // A chunk's samples as the ring holds them, and converted for Web Audio:
  // left, then right.
  std::vector<std::int16_t> pcm = std::vector<std::int16_t>(2 * kChunkFrames);
  std::vector<float> channels = std::vector<float>(2 * kChunkFrames);

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
    // of new music: the music goes on where it stopped, and the clock stands
    // still for the gap instead of jumping over chunks nobody heard.
    if (started && playbackTime <= newestChunkPlaybackTime)
      return true;
    const std::uint64_t taken = ring.bytesTaken();
    ring.take(reinterpret_cast<std::uint8_t*>(pcm.data()),
              static_cast<std::uint32_t>(frames) * kBytesPerFrame);
    newestChunkHeardAtMs = heardAtMs;
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
                                                         double playbackTime, double heardAtMs) {
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
    const channels = _vizTakeAudioChunk(state, frames, event.playbackTime, heardAt) >> 2;
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

PcmRing* openRing(SoundBuffer::State* state) {
  return state && state->context != 0 ? &state->ring : nullptr;
}

// The worker starts playback; the context lives on the main thread.
void startOutput(SoundBuffer::State& state) {
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

void outputPositioned(SoundBuffer::State& state) {
  const std::lock_guard guard(state.mutex);
  state.started = false;
}

bool outputHeard(SoundBuffer::State& state, HeardReport& report) {
  const std::lock_guard guard(state.mutex);
  if (!state.started)
    return false;
  report.frame = static_cast<std::int64_t>(state.newestChunkStart / kBytesPerFrame);
  // On the reading thread's own steady clock, which counts from that
  // thread's start.
  const auto untilHeard =
      std::chrono::duration<double, std::milli>(state.newestChunkHeardAtMs - sharedNowMs());
  report.at = HeardReport::Clock::now() +
              std::chrono::duration_cast<HeardReport::Clock::duration>(untilHeard);
  report.reachFrames = kChunkFrames;
  return true;
}

SoundBuffer::SoundBuffer() = default;

SoundBuffer::~SoundBuffer() {
  release();
}

bool SoundBuffer::create(WindowHandle) {
  release();
  state = std::make_unique<State>();
  state->context = openAudioContext(state.get(), static_cast<int>(kSampleRate), kChunkFrames);
  return state->context != 0;
}

void SoundBuffer::release() {
  if (!state)
    return;
  if (state->context != 0)
    closeAudioContext(state->context);
  state.reset();
}
