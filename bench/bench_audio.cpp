// The music worker's decoding cost, and how smoothly the clock runs on the
// SDL backend.
#include "audio/music_player.h"
#include "test_tracks.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdlib>
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
  MusicPlayer::openMusic("track.ogg", 0.0f);
  int refills = 0;
  double decodingSeconds = 0.0;
  for (auto _ : state) {
    if (refills == refillsPerTrack) {
      state.PauseTiming();
      MusicPlayer::stop();
      MusicPlayer::openMusic("track.ogg", 0.0f);
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

// Reads the clock every millisecond for ten seconds of playback on SDL's
// dummy driver: the largest step between two readings, and the largest
// distance from the straight line fitted through all of them.
void BM_ClockSmoothness(benchmark::State& state) {
  setenv("SDL_AUDIODRIVER", "dummy", 1);
  DataDirectory data;
  data.addFile("track.ogg", encodeTestTrack(3.0));
  std::vector<double> wall;
  std::vector<double> clock;
  for (auto _ : state) {
    if (!MusicPlayer::initSound(nullptr) || !MusicPlayer::openMusic("track.ogg", 0.0f)) {
      state.SkipWithError("no SDL dummy audio device");
      break;
    }
    MusicPlayer::startStreaming();
    while (MusicPlayer::currentTime() == 0.0f)
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    const auto start = Clock::now();
    wall.clear();
    clock.clear();
    while (Clock::now() - start < std::chrono::seconds(10)) {
      clock.push_back(MusicPlayer::currentTime());
      wall.push_back(std::chrono::duration<double>(Clock::now() - start).count());
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    MusicPlayer::stop();
  }
  unsetenv("SDL_AUDIODRIVER");
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
  state.counters["device_buffer_ms"] = 1000.0 * 1024 / kSampleRate;
  state.counters["rate"] = slope;
}
BENCHMARK(BM_ClockSmoothness)->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();

} // namespace
