// The DirectSound backend's listener, under Wine: the output latency measured
// by listening to the output through the sound server's monitor of it. Wine's
// audio layer counts as played what it has handed to the sound server; after
// the server ran dry of its stream, the music resumes later than that count
// says and no figure a program can read shows it. The recording of the
// monitor, matched against the music written, does.
#include "audio/dsound/device_state.h"
#include "audio/dsound/monitor_capture.h"

#include <algorithm>
#include <cstdlib>
#include <system_error>
#include <utility>

namespace {

// How often the listener reads the cursor and the recording, and how often it
// matches what it recorded.
constexpr DWORD kListenPeriodMs = 5;
constexpr double kMeasurePeriodSeconds = 0.25;

double counterSeconds() {
  LARGE_INTEGER now;
  LARGE_INTEGER frequency;
  QueryPerformanceCounter(&now);
  QueryPerformanceFrequency(&frequency);
  return static_cast<double>(now.QuadPart) / static_cast<double>(frequency.QuadPart);
}

// Where the cursor stood, as a written frame, and when (counter seconds): it
// stepped there at its last step and plays on from there. The written frames
// are numbered from the whole fill at byte 0 where the cursor was placed.
bool cursorStep(SoundBuffer::State& state, double& seconds, std::int64_t& frame) {
  std::uint32_t cursor = 0;
  if (!readPlayCursor(state, cursor))
    return false;
  const std::lock_guard guard(state.cursorLock);
  const double sinceStep =
      std::chrono::duration<double>(HeardReport::Clock::now() - state.stepSeen).count();
  seconds = counterSeconds() - sinceStep;
  frame = static_cast<std::int64_t>(state.travelled / kBytesPerFrame);
  return true;
}

void runListener(SoundBuffer::State* state) {
  MonitorCapture capture;
  const char* failure = "";
  if (!capture.open(failure)) {
    state->log.line("listening unavailable: %s", failure);
    return;
  }
  state->log.line("listening");
  MonitorPacket packet;
  double nextMeasurement = 0.0;
  while (!state->stopListening) {
    Sleep(kListenPeriodMs);
    double stepSeconds = 0.0;
    std::int64_t frame = 0;
    if (cursorStep(*state, stepSeconds, frame))
      state->heard->cursorAt(stepSeconds, frame);
    while (capture.next(packet))
      state->heard->captured(packet.stereo.data(), packet.frames, packet.firstFrame,
                             static_cast<double>(packet.stamp) / 10'000'000, packet.gap);
    const double now = counterSeconds();
    if (now < nextMeasurement)
      continue;
    nextMeasurement = now + kMeasurePeriodSeconds;
    if (state->heard->measure()) {
      state->outputLatency =
          static_cast<std::uint32_t>(state->heard->latencyFrames()) * kBytesPerFrame;
      state->log.line("heard latency %u", state->outputLatency.load());
    }
  }
}

} // namespace

// A refill's lock at `offset`: the writing stopped there, which shows how
// much of the last unlocked range was written.
std::uint64_t noteLock(SoundBuffer::State& state, std::uint32_t offset) {
  const std::lock_guard guard(state.writing);
  const std::uint64_t before = state.written.total();
  const std::uint64_t after = state.written.lockedAt(offset);
  if (!state.heard)
    return after;
  const auto frames = static_cast<std::size_t>((after - before) / kBytesPerFrame);
  // A range filled less than the lock says (it never is) still counts as
  // written, as silence, so that the numbering keeps to the buffer's.
  state.unlockedMusic.resize(std::max(state.unlockedMusic.size(), 2 * frames));
  state.heard->written().append(state.unlockedMusic.data(), frames);
  state.unlockedMusic.clear();
  return after;
}

// The whole buffer was locked: the music starts afresh from its start, and
// what was unlocked before was never played.
void noteWholeFill(SoundBuffer::State& state) {
  const std::lock_guard guard(state.writing);
  state.written.filledWhole();
  state.unlockedMusic.clear();
}

void noteUnlock(SoundBuffer::State& state, const LockedRegions& regions) {
  if (!state.heard)
    return;
  const std::lock_guard guard(state.writing);
  for (const auto& [data, bytes] : {std::pair{regions.first, regions.firstBytes},
                                    std::pair{regions.second, regions.secondBytes}}) {
    if (!data)
      continue;
    const auto* samples = reinterpret_cast<const std::int16_t*>(data);
    state.unlockedMusic.insert(state.unlockedMusic.end(), samples, samples + bytes / 2);
  }
}

void startListening(SoundBuffer::State& state) {
  const char* setting = std::getenv("VIRIZ_AUDIO_LISTEN");
  if (setting && setting[0] == '0')
    return;
  state.heard = std::make_unique<HeardLatency>(state.outputLatency / kBytesPerFrame);
  try {
    state.listener = std::thread(runListener, &state);
  } catch (const std::system_error&) {
    state.heard.reset();
  }
}

void stopListening(SoundBuffer::State& state) {
  state.stopListening = true;
  if (state.listener.joinable())
    state.listener.join();
}
