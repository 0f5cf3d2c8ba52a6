// The music worker's decoding cost, the Windows build's listening cost under
// Wine, and how smoothly and cheaply the clock runs on the Linux backend's
// two outputs.
#include "audio/dsound/heard_latency.h"
#include "audio/player/music_player.h"
#include "private_pulse_server.h"
#include "test_tracks.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <memory>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

constexpr double kTrackSeconds = 20.0;
// A refill every 100 ms takes about 100 ms of audio: 17640 bytes.
constexpr int kRefillBytes = static_cast<int>(kBytesPerSecond / 10);

// Decoding one refill's worth of the track, as the worker does ten times a
// second; core_share is the part of one core that takes while playing.
void BM_DecodeRefill(benchmark::State& state) {
  DataDirectory data;
  data.addFile("track.ogg", encodeTestTrack(kTrackSeconds));
  std::vector<std::uint8_t> scratch(kSoundBufferBytes);
  const auto refillsPerTrack = static_cast<int>(kTrackSeconds * 10) - 2;
  MusicPlayer::openMusic(data.open("track.ogg"), 0.0f);
  int refills = 0;
  double decodingSeconds = 0.0;
  for (auto _ : state) {
    if (refills == refillsPerTrack) {
      state.PauseTiming();
      MusicPlayer::stop();
      MusicPlayer::openMusic(data.open("track.ogg"), 0.0f);
      refills = 0;
      state.ResumeTiming();
    }
    const auto start = Clock::now();
    benchmark::DoNotOptimize(MusicPlayer::decodeInto(scratch.data(), kRefillBytes));
    decodingSeconds += std::chrono::duration<double>(Clock::now() - start).count();
    ++refills;
  }
  MusicPlayer::stop();
  state.counters["core_share_pct"] =
      100.0 * decodingSeconds / (static_cast<double>(state.iterations()) * 0.1);
  state.SetBytesProcessed(state.iterations() * kRefillBytes);
}
BENCHMARK(BM_DecodeRefill)->Unit(benchmark::kMicrosecond);

// One match of what the Windows build under Wine records of its output
// against what it wrote, over the range it searches, as its listener does
// four times a second; core_share is the part of one core that takes (beside
// BM_DecodeRefill's, the worker's own cost).
void BM_HeardSoundMatch(benchmark::State& state) {
  constexpr std::size_t kWrittenFrames = 2 * kSampleRate;
  std::vector<std::int16_t> stereo(2 * kWrittenFrames);
  std::uint32_t noise = 1;
  for (auto& sample : stereo) {
    noise = noise * 1664525u + 1013904223u;
    sample = static_cast<std::int16_t>(noise >> 16);
  }
  WrittenHistory written;
  written.append(stereo.data(), kWrittenFrames);
  constexpr std::int64_t kTruth = kSampleRate;
  std::vector<float> captured(HeardLatency::kStretchFrames);
  written.copy(kTruth, captured.size(), captured.data());
  double matchingSeconds = 0.0;
  for (auto _ : state) {
    const auto start = Clock::now();
    const auto match =
        matchStretch(written, captured.data(), captured.size(),
                     kTruth - HeardLatency::kSearchFrames, kTruth + HeardLatency::kSearchFrames);
    matchingSeconds += std::chrono::duration<double>(Clock::now() - start).count();
    if (!match.found || match.writtenFrame != kTruth)
      state.SkipWithError("the match missed");
  }
  state.counters["core_share_pct"] =
      100.0 * 4.0 * matchingSeconds / static_cast<double>(state.iterations());
}
BENCHMARK(BM_HeardSoundMatch)->Unit(benchmark::kMillisecond);

// The two ways the Linux build plays: SDL's dummy driver (SDL's callback,
// SDL_AUDIODRIVER set) and a private PulseAudio server's stream.
enum class Output { SdlDummy, PulseServer };

// Starts the track on `output` and waits until the clock runs; false (with
// the reason given to `state`) when that output is not available here.
bool startPlaying(benchmark::State& state, Output output,
                  std::unique_ptr<PrivatePulseServer>& pulse, DataDirectory& data) {
  if (output == Output::SdlDummy) {
    setenv("SDL_AUDIODRIVER", "dummy", 1);
  } else {
    pulse = std::make_unique<PrivatePulseServer>();
    if (!pulse->ready()) {
      state.SkipWithError("no private PulseAudio server");
      return false;
    }
  }
  data.addFile("track.ogg", encodeTestTrack(3.0));
  if (!MusicPlayer::initSound(nullptr) || !MusicPlayer::openMusic(data.open("track.ogg"), 0.0f)) {
    state.SkipWithError("no audio device");
    return false;
  }
  MusicPlayer::startStreaming();
  while (MusicPlayer::currentTime() == 0.0f)
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  return true;
}

void stopPlaying(std::unique_ptr<PrivatePulseServer>& pulse) {
  MusicPlayer::stop();
  unsetenv("SDL_AUDIODRIVER");
  pulse.reset();
}

// Reads the clock every millisecond for ten seconds of playback: the largest
// step between two readings, and the largest distance from the straight line
// fitted through all of them.
void BM_ClockSmoothness(benchmark::State& state, Output output) {
  DataDirectory data;
  std::unique_ptr<PrivatePulseServer> pulse;
  std::vector<double> wall;
  std::vector<double> clock;
  for (auto _ : state) {
    if (!startPlaying(state, output, pulse, data))
      break;
    const auto start = Clock::now();
    wall.clear();
    clock.clear();
    while (Clock::now() - start < std::chrono::seconds(10)) {
      clock.push_back(MusicPlayer::currentTime());
      wall.push_back(std::chrono::duration<double>(Clock::now() - start).count());
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
  }
  stopPlaying(pulse);
  if (clock.size() < 2)
    return;
  // The largest step between readings that really came 1 ms apart (a busy
  // machine delays some), and over all readings the largest jump beyond the
  // real time that passed between two of them.
  double largestStep = 0.0;
  double largestExcess = 0.0;
  for (std::size_t i = 1; i < clock.size(); ++i) {
    const double gap = wall[i] - wall[i - 1];
    const double step = clock[i] - clock[i - 1];
    if (gap < 0.0015)
      largestStep = std::max(largestStep, step);
    largestExcess = std::max(largestExcess, step - gap);
  }

  // Least-squares line clock = a + b * wall.
  const auto n = static_cast<double>(clock.size());
  double sumW = 0, sumC = 0, sumWW = 0, sumWC = 0;
  for (std::size_t i = 0; i < clock.size(); ++i) {
    sumW += wall[i];
    sumC += clock[i];
    sumWW += wall[i] * wall[i];
    sumWC += wall[i] * clock[i];
  }
  const double slope = (n * sumWC - sumW * sumC) / (n * sumWW - sumW * sumW);
  const double intercept = (sumC - slope * sumW) / n;
  double largestDeviation = 0.0;
  for (std::size_t i = 0; i < clock.size(); ++i)
    largestDeviation =
        std::max(largestDeviation, std::abs(clock[i] - (intercept + slope * wall[i])));

  state.counters["max_step_ms"] = 1000.0 * largestStep;
  state.counters["max_excess_step_ms"] = 1000.0 * largestExcess;
  state.counters["max_deviation_ms"] = 1000.0 * largestDeviation;
  state.counters["rate"] = slope;
}
BENCHMARK_CAPTURE(BM_ClockSmoothness, sdl_dummy, Output::SdlDummy)
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();
BENCHMARK_CAPTURE(BM_ClockSmoothness, pulse_server, Output::PulseServer)
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

// What one reading of the clock costs while the music plays: the frame loop
// reads it once a frame.
void BM_ClockRead(benchmark::State& state, Output output) {
  DataDirectory data;
  std::unique_ptr<PrivatePulseServer> pulse;
  if (startPlaying(state, output, pulse, data))
    for (auto _ : state)
      benchmark::DoNotOptimize(MusicPlayer::currentTime());
  stopPlaying(pulse);
}
BENCHMARK_CAPTURE(BM_ClockRead, sdl_dummy, Output::SdlDummy)->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(BM_ClockRead, pulse_server, Output::PulseServer)->Unit(benchmark::kMicrosecond);

} // namespace
