// The latency measured by listening: an output whose recording of itself
// trails the cursor by a known distance, handed over late by its capture's
// timer, is measured at that distance; a change of it (the sound server ran
// dry) is followed; silence and foreign sound leave the figure alone.
#include "audio/dsound/heard_latency.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <vector>

namespace {

constexpr std::int64_t kRate = 44100;
constexpr std::uint32_t kPacketFrames = 441; // the capture's 10 ms packets

// Plays noise through a simulated output for HeardLatency: the cursor moves
// at the nominal rate and is read every 5 ms, what is heard trails it by
// `trail` frames, and each recorded packet is handed over 0 to 10 ms after
// its last frame was heard.
class SimulatedOutput {
public:
  SimulatedOutput(HeardLatency& heard, std::int64_t trail) : heard(heard), trail(trail) {
    std::mt19937 random(7);
    std::uniform_int_distribution<int> sample(-12000, 12000);
    music.resize(30 * kRate * 2);
    for (auto& value : music)
      value = static_cast<std::int16_t>(sample(random));
  }

  // Plays `seconds` more, measuring four times a second.
  void play(double seconds, bool silent = false) {
    std::mt19937 random(11);
    std::uniform_real_distribution<double> handOverDelay(0.0, 0.010);
    const double until = now + seconds;
    double nextMeasurement = now;
    for (; now < until; now += 0.005) {
      // The music is written 1 s ahead of the cursor.
      const auto cursor = static_cast<std::int64_t>(now * kRate);
      const std::int64_t written = heard.written().totalFrames();
      heard.written().append(&music[static_cast<std::size_t>(2 * written)],
                             static_cast<std::size_t>(cursor + kRate - written));
      heard.cursorAt(now, cursor);
      while ((captured + kPacketFrames) < (now - 0.010) * kRate) {
        std::vector<std::int16_t> packet(kPacketFrames * 2, 0);
        for (std::uint32_t i = 0; i < kPacketFrames && !silent; ++i) {
          const std::int64_t written = captured + i - trail;
          if (written >= 0) {
            packet[2 * i] = music[static_cast<std::size_t>(2 * written)];
            packet[2 * i + 1] = music[static_cast<std::size_t>(2 * written + 1)];
          }
        }
        const double lastHeard = static_cast<double>(captured + kPacketFrames) / kRate;
        heard.captured(packet.data(), kPacketFrames, captured, lastHeard + handOverDelay(random),
                       false);
        captured += kPacketFrames;
      }
      if (now >= nextMeasurement) {
        heard.measure();
        nextMeasurement += 0.25;
      }
    }
  }

private:
  HeardLatency& heard;

public:
  std::int64_t trail;

private:
  std::vector<std::int16_t> music;
  double now = 0.0;
  std::int64_t captured = 0;
};

// The capture's hand-over is late by up to 10 ms, but some packets come
// promptly, and the cursor is read 5 ms apart: the measurement lands within a
// millisecond of the true trail.
constexpr std::int64_t kTolerance = kRate / 1000;

TEST(HeardLatencyTest, MeasuresTheTrailAndFollowsAChangeOfIt) {
  HeardLatency heard(50 * kRate / 1000);
  SimulatedOutput output(heard, 80 * kRate / 1000);
  output.play(4.0);
  EXPECT_NEAR(heard.latencyFrames(), output.trail, kTolerance);

  // The output ran dry and resumed: what is heard now trails 30 ms further.
  output.trail += 30 * kRate / 1000;
  output.play(3.0);
  EXPECT_NEAR(heard.latencyFrames(), output.trail, kTolerance);
}

TEST(HeardLatencyTest, SilenceLeavesTheFigureAsItWas) {
  HeardLatency heard(50 * kRate / 1000);
  SimulatedOutput output(heard, 80 * kRate / 1000);
  output.play(3.0, true);
  EXPECT_EQ(heard.latencyFrames(), 50 * kRate / 1000);
}

TEST(HeardLatencyTest, SoundFromElsewhereIsNotMeasured) {
  // What is heard is far outside where the figure lets it be looked for: a
  // recording of something else, as far as the measurement can tell.
  HeardLatency heard(50 * kRate / 1000);
  SimulatedOutput output(heard, kRate);
  output.play(3.0);
  EXPECT_EQ(heard.latencyFrames(), 50 * kRate / 1000);
}

} // namespace
