#include "effects.h"
#include "instruments.h"
#include "song.h"
#include "synth.h"

#include <gtest/gtest.h>

#include <cmath>
#include <numbers>
#include <vector>

using namespace assets_gen;

namespace {

template <typename Generator> double meanOf(int samples, Generator next) {
  double sum = 0.0;
  for (int i = 0; i < samples; ++i)
    sum += next();
  return sum / samples;
}

// Amplitude a filter leaves of a steady sine, measured after it settles.
float lowpassGain(float sineHz, float cutoffHz) {
  Oscillator sine;
  Filter filter;
  float peak = 0.0f;
  for (int i = 0; i < kSampleRate; ++i) {
    float out = filter.lowpass(sine.sine(sineHz), cutoffHz, 0.0f);
    if (i > kSampleRate / 2)
      peak = std::max(peak, std::abs(out));
  }
  return peak;
}

} // namespace

TEST(Synth, NoiseRepeatsForASeedAndStaysInRange) {
  Noise first(42), second(42), other(43);
  bool differs = false;
  for (int i = 0; i < 10000; ++i) {
    float value = first.next();
    ASSERT_EQ(value, second.next());
    ASSERT_GE(value, -1.0f);
    ASSERT_LT(value, 1.0f);
    differs |= value != other.next();
  }
  EXPECT_TRUE(differs);
  Noise zeroSeed(0); // a zero xorshift state would stay zero for ever
  EXPECT_NE(meanOf(100, [&] { return std::abs(zeroSeed.next()); }), 0.0);
}

TEST(Synth, OscillatorsCarryNoOffset) {
  // An offset in a voice would add up across the mix and through the reverb.
  Oscillator saw, narrow, square;
  EXPECT_NEAR(meanOf(kSampleRate, [&] { return saw.saw(441.0f); }), 0.0, 0.01);
  EXPECT_NEAR(meanOf(kSampleRate, [&] { return narrow.pulse(441.0f, 0.3f); }), 0.0, 0.01);
  EXPECT_NEAR(meanOf(kSampleRate, [&] { return square.pulse(441.0f, 0.5f); }), 0.0, 0.01);
}

TEST(Synth, BandLimitedEdgesStayNearFullScale) {
  Oscillator saw, pulse;
  for (int i = 0; i < kSampleRate; ++i) {
    ASSERT_LE(std::abs(saw.saw(3520.0f)), 1.3f);
    ASSERT_LE(std::abs(pulse.pulse(3520.0f, 0.3f)), 1.8f);
  }
}

TEST(Synth, LowpassPassesLowAndCutsHighFrequencies) {
  EXPECT_NEAR(lowpassGain(100.0f, 2000.0f), 1.0f, 0.05f);
  EXPECT_LT(lowpassGain(8000.0f, 500.0f), 0.02f);
  // A cutoff above Nyquist is clamped rather than blowing up.
  EXPECT_TRUE(std::isfinite(lowpassGain(1000.0f, 40000.0f)));
}

TEST(Synth, EnvelopeRisesHoldsAndReleases) {
  Envelope envelope{0.01f, 0.1f, 0.5f, 0.05f};
  EXPECT_EQ(envelope.level(-0.001f, 1.0f), 0.0f);
  EXPECT_NEAR(envelope.level(0.005f, 1.0f), 0.5f, 1e-5f);
  EXPECT_NEAR(envelope.level(0.01f, 1.0f), 1.0f, 1e-5f);
  EXPECT_NEAR(envelope.level(0.99f, 1.0f), 0.5f, 1e-3f);
  // Released before the attack ends: it falls from where it had got to.
  EXPECT_LT(envelope.level(0.006f, 0.004f), 0.4f);
  EXPECT_LT(envelope.level(envelope.length(1.0f), 1.0f), 0.5f * 0.003f);
}

TEST(Synth, StereoMixClipsVoicesAtBothEnds) {
  StereoBuffer buffer(10);
  std::vector<float> voice(6, 1.0f);
  buffer.addMono(-3, voice, 1.0f, 0.0f); // frames 0..2 land, the rest is before the start
  buffer.addMono(8, voice, 1.0f, 0.0f);  // frames 8..9 land, the rest is past the end
  float centre = std::sqrt(0.5f);
  for (int64_t frame = 0; frame < 10; ++frame) {
    bool covered = frame < 3 || frame >= 8;
    EXPECT_NEAR(buffer.left[frame], covered ? centre : 0.0f, 1e-6f) << frame;
    EXPECT_NEAR(buffer.right[frame], covered ? centre : 0.0f, 1e-6f) << frame;
  }
  buffer.addMono(100, voice, 1.0f, 0.0f);
  buffer.addMono(-100, voice, 1.0f, 0.0f);
  EXPECT_NEAR(buffer.left[5], 0.0f, 1e-6f);
}

TEST(Synth, PanningKeepsPowerAndSides) {
  StereoBuffer buffer(1);
  buffer.addMono(0, {1.0f}, 1.0f, -1.0f);
  EXPECT_NEAR(buffer.left[0], 1.0f, 1e-6f);
  EXPECT_NEAR(buffer.right[0], 0.0f, 1e-6f);
  StereoBuffer halfRight(1);
  halfRight.addMono(0, {1.0f}, 1.0f, 0.5f);
  float power = halfRight.left[0] * halfRight.left[0] + halfRight.right[0] * halfRight.right[0];
  EXPECT_NEAR(power, 1.0f, 1e-5f);
  EXPECT_GT(halfRight.right[0], halfRight.left[0]);
}

TEST(Synth, PingPongEchoesAlternateSides) {
  StereoBuffer impulse(2000);
  impulse.left[0] = 1.0f;
  impulse.right[0] = 1.0f;
  const float delaySeconds = 200.0f / kSampleRate;
  StereoBuffer echoes = pingPongDelay(impulse, delaySeconds, 0.5f);
  EXPECT_EQ(echoes.left[0], 0.0f);
  EXPECT_NEAR(echoes.left[200], 1.0f, 1e-6f);
  EXPECT_NEAR(echoes.right[200], 0.0f, 1e-6f);
  EXPECT_NEAR(echoes.right[400], 0.5f, 1e-6f);
  EXPECT_NEAR(echoes.left[600], 0.25f, 1e-6f);
}

TEST(Synth, ReverbTailDecays) {
  StereoBuffer impulse(kSampleRate * 4);
  impulse.left[0] = 1.0f;
  StereoBuffer wet = reverb(impulse, 0.84f, 0.35f);
  auto energy = [&](int64_t from, int64_t to) {
    double sum = 0.0;
    for (int64_t i = from; i < to; ++i)
      sum += wet.left[i] * wet.left[i] + wet.right[i] * wet.right[i];
    return sum;
  };
  double early = energy(0, kSampleRate / 2);
  EXPECT_GT(early, 0.0);
  EXPECT_LT(energy(3 * kSampleRate, 4 * kSampleRate), early * 1e-3);
}

TEST(Instruments, EveryVoiceSoundsAndEndsWithoutAClick) {
  Noise noise(7);
  const std::vector<std::pair<const char*, std::vector<float>>> voices = {
      {"kick", kick()},
      {"snare", snare(noise)},
      {"closed hat", closedHat(noise)},
      {"open hat", openHat(noise)},
      {"crash", crash(noise)},
      {"bass", bassNote(33, 0.2f)},
      {"pad", padNote(60, 1.0f, 1200.0f)},
      {"lead", leadNote(76, 0.3f)},
      {"pluck", pluckNote(72, 1.0f)},
      {"stab", chordStab({69, 72, 76})},
      {"riser", riser(noise, 1.0f)},
  };
  for (const auto& [name, voice] : voices) {
    SCOPED_TRACE(name);
    ASSERT_GT(voice.size(), 100u);
    float peak = 0.0f;
    for (float sample : voice) {
      ASSERT_TRUE(std::isfinite(sample));
      peak = std::max(peak, std::abs(sample));
    }
    EXPECT_GT(peak, 0.05f);
    EXPECT_LT(peak, 2.0f);
    EXPECT_LT(std::abs(voice.back()), 1e-3f);
    EXPECT_LT(std::abs(voice[voice.size() - 10]), 0.01f * peak + 1e-3f);
  }
}

TEST(Song, BeatsFallOnWholeSamples) {
  // 0.3 s at 44.1 kHz is 13230 samples: every beat starts on an exact sample.
  EXPECT_EQ(beatToSample(1), 13230);
  EXPECT_EQ(beatToSample(kFinaleBeat), 160 * 13230);
}
