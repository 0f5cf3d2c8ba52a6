// The DirectSound backend's diagnostic trace, when VIRIZ_AUDIO_LOG names a
// file: the device's events, and a sampler thread that logs the stream and
// primary buffers' cursors every couple of milliseconds. With
// VIRIZ_AUDIO_LOG_CLIENT=1 it also logs what the audio layer reports, through
// a client of its own on the same output that plays silence: one more stream
// on the user's sound server, so only when asked for.
#include "audio/dsound/audio_client_probe.h"
#include "audio/dsound/device_state.h"

#include <cstdlib>
#include <system_error>

namespace {

// Seconds after the start of playback during which the sampler logs every
// couple of milliseconds; after that every 10 ms.
constexpr double kCloseSamplingSeconds = 6.0;

// What the audio layer says through the probe client: its clock's position
// (and the counter time it belongs to), the frames it holds, its stream
// latency; `written` is what the probe has fed it.
void traceAudioClient(PlaybackLog& log, AudioClientProbe& probe) {
  const AudioClientSample sample = probe.sample();
  if (!sample.valid) {
    log.line("client unreadable");
    return;
  }
  log.line("client position %llu frequency %llu at %.6f padding %u written %llu latency %lld",
           static_cast<unsigned long long>(sample.position),
           static_cast<unsigned long long>(sample.frequency), log.seconds(sample.positionQpc),
           sample.paddingFrames, static_cast<unsigned long long>(sample.framesWritten),
           static_cast<long long>(sample.streamLatency));
}

bool probeClientAskedFor() {
  const char* setting = std::getenv("VIRIZ_AUDIO_LOG_CLIENT");
  return setting && setting[0] == '1';
}

void runSampler(SoundBuffer::State* state) {
  AudioClientProbe probe;
  bool probing = probeClientAskedFor();
  if (probing) {
    probing = probe.open() && probe.start();
    const AudioClientSample sample = probe.sample();
    state->log.line("client %s buffer %u frames at %u Hz latency %lld",
                    probing ? "started" : "unavailable", sample.bufferFrames, sample.sampleRate,
                    static_cast<long long>(sample.streamLatency));
  }
  while (!state->stopSampling) {
    const std::int64_t started = state->playStarted;
    const bool close =
        started == 0 || state->log.seconds(PlaybackLog::now() - started) < kCloseSamplingSeconds;
    traceCursors(*state, "tick");
    if (probing) {
      probe.feed();
      traceAudioClient(state->log, probe);
    }
    Sleep(close ? 2 : 10);
  }
}

} // namespace

void traceCursors(SoundBuffer::State& state, const char* event) {
  DWORD play = 0;
  DWORD write = 0;
  DWORD primaryPlay = 0;
  DWORD primaryWrite = 0;
  const HRESULT streamResult = state.streamBuffer->GetCurrentPosition(&play, &write);
  const HRESULT primaryResult =
      state.primaryBuffer->GetCurrentPosition(&primaryPlay, &primaryWrite);
  state.log.line("%s play %lu write %lu primary %lu %lu result %lx %lx", event,
                 static_cast<unsigned long>(play), static_cast<unsigned long>(write),
                 static_cast<unsigned long>(primaryPlay), static_cast<unsigned long>(primaryWrite),
                 static_cast<unsigned long>(streamResult),
                 static_cast<unsigned long>(primaryResult));
}

void startTrace(SoundBuffer::State& state, bool underWine) {
  const char* path = std::getenv("VIRIZ_AUDIO_LOG");
  if (!path || !*path || !state.log.open(path))
    return;
  DSBCAPS caps{};
  caps.dwSize = sizeof(caps);
  state.primaryBuffer->GetCaps(&caps);
  state.log.line("created wine %d latency %u primary %lu bytes", underWine ? 1 : 0,
                 state.outputLatency.load(), static_cast<unsigned long>(caps.dwBufferBytes));
  try {
    state.sampler = std::thread(runSampler, &state);
  } catch (const std::system_error&) {
    state.log.line("no sampler");
  }
}

void stopTrace(SoundBuffer::State& state) {
  state.stopSampling = true;
  if (state.sampler.joinable())
    state.sampler.join();
  state.log.line("released");
}
