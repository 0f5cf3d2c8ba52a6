#include "audio/linux/pulse_stream.h"

#include "audio/worker_priority.h"

#include <pulse/pulseaudio.h>

#include <algorithm>
#include <chrono>

namespace {

// What the server keeps queued ahead of the sink: 100 ms, refilled in
// requests of 20 ms. The clock does not depend on it (the server's timing
// leaves it out), so it is sized for a busy machine: the loop's thread may
// wait that long for a core before the stream underruns.
constexpr std::uint32_t kTargetQueueBytes = kBytesPerSecond / 10;
constexpr std::uint32_t kRequestBytes = kBytesPerSecond / 50;

using Clock = HeardReport::Clock;

// A timing report is asked for at most this often, from the write requests,
// so that a stall shows in the reports soon after it begins.
constexpr auto kReportPeriod = std::chrono::milliseconds(50);
// The sound goes on from a report for at most this long: reports that stop
// coming mean the server or this process is held up, and the clock waits for
// the next one.
constexpr std::int64_t kReportReachFrames = kSampleRate / 5;

} // namespace

struct PulseStream::State {
  pa_threaded_mainloop* loop = nullptr;
  pa_context* context = nullptr;
  pa_stream* stream = nullptr;
  PcmRing* ring = nullptr;

  // Under the loop's lock: bytes written to the stream in all, and how many
  // of them had been written when playback was last positioned. The server's
  // stream time counts every byte ever written.
  std::uint64_t written = 0;
  std::uint64_t writtenAtPositioning = 0;

  // The server's newest report, taken when it arrived: how many bytes of the
  // stream the sink had played out by then, and whether it was playing.
  bool reported = false;
  std::int64_t playedAtReport = 0;
  bool playingAtReport = false;
  Clock::time_point reportArrived{};
  Clock::time_point reportAskedFor{};
  bool loopThreadRaised = false;

  // Writes `bytes` bytes of the ring (silence when it is not playing).
  void write(std::size_t bytes) {
    while (bytes > 0) {
      void* data = nullptr;
      std::size_t chunk = bytes;
      if (pa_stream_begin_write(stream, &data, &chunk) != 0 || !data || chunk == 0)
        return;
      chunk -= chunk % kBytesPerFrame;
      if (chunk == 0) {
        pa_stream_cancel_write(stream);
        return;
      }
      ring->take(static_cast<std::uint8_t*>(data), static_cast<std::uint32_t>(chunk));
      if (pa_stream_write(stream, data, chunk, nullptr, 0, PA_SEEK_RELATIVE) != 0)
        return;
      written += chunk;
      bytes -= chunk;
    }
  }
};

namespace {

void signalLoop(pa_threaded_mainloop* loop) {
  pa_threaded_mainloop_signal(loop, 0);
}

void contextChanged(pa_context*, void* userdata) {
  signalLoop(static_cast<PulseStream::State*>(userdata)->loop);
}

void streamChanged(pa_stream*, void* userdata) {
  signalLoop(static_cast<PulseStream::State*>(userdata)->loop);
}

// A new timing report: the server's read position in the stream, less what
// the sink still holds before it plays it out. (The stream time that the
// library interpolates itself runs on while the stream waits corked, and
// never goes back from there; this one starts only with the sound.)
void timingReported(pa_stream* stream, void* userdata) {
  auto& state = *static_cast<PulseStream::State*>(userdata);
  const pa_timing_info* timing = pa_stream_get_timing_info(stream);
  if (!timing)
    return;
  const auto sinkHolds =
      static_cast<std::int64_t>(timing->sink_usec * kSampleRate / 1'000'000) * kBytesPerFrame;
  state.reported = true;
  state.playedAtReport = timing->read_index - sinkHolds;
  state.playingAtReport = timing->playing != 0;
  state.reportArrived = Clock::now();
}

// The server asks for more: nothing is written before playback starts, so
// that the stream's time counts music only.
void serverWantsData(pa_stream* stream, std::size_t bytes, void* userdata) {
  auto& state = *static_cast<PulseStream::State*>(userdata);
  if (!state.ring->isPlaying())
    return;
  // The loop's thread feeds the server: on a busy machine it must come
  // before the frames, like the music worker, or the stream runs dry.
  if (!state.loopThreadRaised) {
    state.loopThreadRaised = true;
    raiseWorkerPriority();
  }
  state.write(bytes);
  const auto now = Clock::now();
  if (now - state.reportAskedFor >= kReportPeriod) {
    state.reportAskedFor = now;
    if (pa_operation* asking = pa_stream_update_timing_info(stream, nullptr, nullptr))
      pa_operation_unref(asking);
  }
}

// Waits, with the loop locked, until the context is ready; false when it fails.
bool waitForContext(PulseStream::State& state) {
  for (;;) {
    const pa_context_state_t now = pa_context_get_state(state.context);
    if (now == PA_CONTEXT_READY)
      return true;
    if (!PA_CONTEXT_IS_GOOD(now))
      return false;
    pa_threaded_mainloop_wait(state.loop);
  }
}

bool waitForStream(PulseStream::State& state) {
  for (;;) {
    const pa_stream_state_t now = pa_stream_get_state(state.stream);
    if (now == PA_STREAM_READY)
      return true;
    if (!PA_STREAM_IS_GOOD(now))
      return false;
    pa_threaded_mainloop_wait(state.loop);
  }
}

bool connectStream(PulseStream::State& state) {
  const pa_sample_spec format{PA_SAMPLE_S16LE, kSampleRate, 2};
  state.stream = pa_stream_new(state.context, "music", &format, nullptr);
  if (!state.stream)
    return false;
  pa_stream_set_state_callback(state.stream, streamChanged, &state);
  pa_stream_set_write_callback(state.stream, serverWantsData, &state);
  pa_stream_set_latency_update_callback(state.stream, timingReported, &state);
  pa_buffer_attr buffering{};
  buffering.maxlength = static_cast<std::uint32_t>(-1);
  buffering.tlength = kTargetQueueBytes;
  buffering.prebuf = static_cast<std::uint32_t>(-1);
  buffering.minreq = kRequestBytes;
  buffering.fragsize = static_cast<std::uint32_t>(-1);
  const auto flags = static_cast<pa_stream_flags_t>(
      PA_STREAM_START_CORKED | PA_STREAM_AUTO_TIMING_UPDATE | PA_STREAM_ADJUST_LATENCY);
  if (pa_stream_connect_playback(state.stream, nullptr, &buffering, flags, nullptr, nullptr) != 0)
    return false;
  return waitForStream(state);
}

} // namespace

PulseStream::~PulseStream() {
  close();
}

bool PulseStream::open(PcmRing& ring) {
  close();
  state = new State;
  state->ring = &ring;
  state->loop = pa_threaded_mainloop_new();
  if (!state->loop)
    return false;
  state->context = pa_context_new(pa_threaded_mainloop_get_api(state->loop), "viriz");
  if (!state->context)
    return false;
  pa_context_set_state_callback(state->context, contextChanged, state);
  if (pa_context_connect(state->context, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) != 0)
    return false;
  pa_threaded_mainloop_lock(state->loop);
  const bool ready = pa_threaded_mainloop_start(state->loop) == 0 && waitForContext(*state) &&
                     connectStream(*state);
  pa_threaded_mainloop_unlock(state->loop);
  return ready;
}

void PulseStream::start() {
  if (!state || !state->stream)
    return;
  pa_threaded_mainloop_lock(state->loop);
  const std::size_t wanted = pa_stream_writable_size(state->stream);
  if (wanted != static_cast<std::size_t>(-1))
    state->write(wanted);
  pa_operation* uncork = pa_stream_cork(state->stream, 0, nullptr, nullptr);
  if (uncork)
    pa_operation_unref(uncork);
  pa_threaded_mainloop_unlock(state->loop);
}

void PulseStream::positioned() {
  if (!state || !state->loop)
    return;
  pa_threaded_mainloop_lock(state->loop);
  state->writtenAtPositioning = state->written;
  pa_threaded_mainloop_unlock(state->loop);
}

// The newest report as it stands: the sound goes on from it while the sink
// played, no further than was written. Until the sink has played out the
// first byte of this playback nothing of it has been heard (the reports of a
// stream that is starting count up towards it while it is not yet playing).
bool PulseStream::heard(HeardReport& report) {
  if (!state || !state->stream)
    return false;
  pa_threaded_mainloop_lock(state->loop);
  const std::int64_t played =
      state->playedAtReport - static_cast<std::int64_t>(state->writtenAtPositioning);
  const bool heardAny = state->reported && played >= 0;
  if (heardAny) {
    report.frame = played / kBytesPerFrame;
    report.at = state->reportArrived;
    const std::int64_t unplayed =
        (static_cast<std::int64_t>(state->written) - state->playedAtReport) / kBytesPerFrame;
    report.reachFrames =
        state->playingAtReport ? std::clamp<std::int64_t>(unplayed, 0, kReportReachFrames) : 0;
  }
  pa_threaded_mainloop_unlock(state->loop);
  return heardAny;
}

// The stream goes before its context, and the loop's thread is stopped before
// either is freed.
void PulseStream::close() {
  if (!state)
    return;
  if (state->loop)
    pa_threaded_mainloop_stop(state->loop);
  if (state->stream) {
    pa_stream_disconnect(state->stream);
    pa_stream_unref(state->stream);
  }
  if (state->context) {
    pa_context_disconnect(state->context);
    pa_context_unref(state->context);
  }
  if (state->loop)
    pa_threaded_mainloop_free(state->loop);
  delete state;
  state = nullptr;
}
