// Locating a recording of the output in the PCM that was written, and timing
// the recording from its packets' stamps.
#include "audio/dsound/heard_sound_match.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>

namespace {

constexpr double kRate = 44100.0;
constexpr std::size_t kStretch = 4096;

std::vector<std::int16_t> stereoNoise(std::size_t frames, unsigned seed) {
  std::mt19937 random(seed);
  std::uniform_int_distribution<int> sample(-12000, 12000);
  std::vector<std::int16_t> stereo(2 * frames);
  for (auto& s : stereo)
    s = std::int16_t(sample(random));
  return stereo;
}

std::vector<float> monoOf(const std::vector<std::int16_t>& stereo) {
  std::vector<float> mono(stereo.size() / 2);
  for (std::size_t i = 0; i < mono.size(); ++i)
    mono[i] = float((stereo[2 * i] + stereo[2 * i + 1]) / 2.0 / 32768.0);
  return mono;
}

// Linear interpolation from one rate to another.
std::vector<float> resample(const std::vector<float>& in, double from, double to) {
  std::vector<float> out(std::size_t(double(in.size() - 1) * to / from) + 1);
  for (std::size_t j = 0; j < out.size(); ++j) {
    const double t = double(j) * from / to;
    const auto i = std::min(std::size_t(t), in.size() - 2);
    const double f = t - double(i);
    out[j] = float(in[i] * (1.0 - f) + in[i + 1] * f);
  }
  return out;
}

// Three seconds of written noise, and a stretch searched for among ~18000 starts.
class MatchStretchTest : public ::testing::Test {
protected:
  void SetUp() override {
    const auto stereo = stereoNoise(3 * 44100, 1);
    history.append(stereo.data(), stereo.size() / 2);
    mono = monoOf(stereo);
  }
  StretchMatch find(const std::vector<float>& captured) {
    return matchStretch(history, captured.data(), kStretch, kTruth - 9000, kTruth + 9000);
  }
  std::vector<float> stretchAt(std::int64_t frame) const {
    return {mono.begin() + frame, mono.begin() + frame + kStretch};
  }
  static constexpr std::int64_t kTruth = 100000;
  WrittenHistory history;
  std::vector<float> mono;
};

TEST(WrittenHistoryTest, KeepsTheLastFramesAsMonoAndPiecesEqualOneAppend) {
  constexpr std::size_t kFrames = WrittenHistory::kKeptFrames + 1000;
  auto stereo = stereoNoise(kFrames, 2);
  stereo[2 * 5000] = 1000;
  stereo[2 * 5000 + 1] = 3001;
  WrittenHistory whole;
  whole.append(stereo.data(), kFrames);
  WrittenHistory pieces;
  for (std::size_t done = 0, piece = 1; done < kFrames; piece = piece * 7 % 1013 + 1) {
    const std::size_t frames = std::min(piece, kFrames - done);
    pieces.append(stereo.data() + 2 * done, frames);
    done += frames;
  }
  ASSERT_EQ(whole.totalFrames(), std::int64_t(kFrames));
  ASSERT_EQ(pieces.totalFrames(), std::int64_t(kFrames));

  std::vector<float> fromWhole(WrittenHistory::kKeptFrames), fromPieces(fromWhole.size());
  ASSERT_TRUE(whole.copy(1000, fromWhole.size(), fromWhole.data()));
  ASSERT_TRUE(pieces.copy(1000, fromPieces.size(), fromPieces.data()));
  EXPECT_EQ(fromWhole, fromPieces);
  EXPECT_FLOAT_EQ(fromWhole[4000], 2000.5f / 32768.0f);
  // Older frames are forgotten; frames not yet written are not there.
  EXPECT_FALSE(whole.copy(999, 1, fromWhole.data()));
  EXPECT_FALSE(whole.copy(std::int64_t(kFrames) - 1, 2, fromWhole.data()));
  EXPECT_TRUE(whole.copy(std::int64_t(kFrames) - 1, 1, fromWhole.data()));
}

TEST_F(MatchStretchTest, FindsAnExactCopyAlsoScaledAndMixedWithQuieterNoise) {
  auto captured = stretchAt(kTruth);
  auto match = find(captured);
  ASSERT_TRUE(match.found);
  EXPECT_EQ(match.writtenFrame, kTruth);
  EXPECT_GT(match.score, 0.999);
  EXPECT_LE(match.score, 1.0);

  // At 0.3 volume with other noise 20 dB below it.
  std::mt19937 random(3);
  std::normal_distribution<float> other(0.0f, 1.0f);
  const float signalRms = 0.3f * 12000.0f / 32768.0f / std::sqrt(6.0f);
  for (auto& s : captured)
    s = 0.3f * s + 0.1f * signalRms * other(random);
  match = find(captured);
  ASSERT_TRUE(match.found);
  EXPECT_EQ(match.writtenFrame, kTruth);
  EXPECT_GT(match.score, 0.98);
}

TEST_F(MatchStretchTest, FindsACopyResampledThereAndBack) {
  const auto roundTrip = resample(resample(mono, kRate, 48000.0), 48000.0, kRate);
  const std::vector<float> captured(roundTrip.begin() + kTruth,
                                    roundTrip.begin() + kTruth + kStretch);
  const auto match = find(captured);
  ASSERT_TRUE(match.found);
  EXPECT_NEAR(double(match.writtenFrame), double(kTruth), 2.0);
  EXPECT_GT(match.score, 0.6);
}

TEST(MatchStretchLowSoundTest, FindsAnExactCopyOfLowSoundWhosePeakIsWide) {
  // Noise through three one-pole low-passes at about 100 Hz: a bass line's
  // sound, whose correlation falls off over tens of frames either side.
  auto stereo = stereoNoise(3 * 44100, 5);
  double state[2][3] = {};
  const double keep = std::exp(-2.0 * std::acos(-1.0) * 100.0 / kRate);
  for (std::size_t i = 0; i < stereo.size(); ++i) {
    double value = stereo[i];
    for (double& pole : state[i % 2])
      value = pole = keep * pole + (1.0 - keep) * value;
    stereo[i] = std::int16_t(value * 8.0);
  }
  WrittenHistory history;
  history.append(stereo.data(), stereo.size() / 2);
  const auto mono = monoOf(stereo);
  constexpr std::int64_t kTruth = 100000;
  const std::vector<float> captured(mono.begin() + kTruth, mono.begin() + kTruth + kStretch);
  const auto match = matchStretch(history, captured.data(), kStretch, kTruth - 9000, kTruth + 9000);
  ASSERT_TRUE(match.found);
  EXPECT_EQ(match.writtenFrame, kTruth);
}

TEST_F(MatchStretchTest, NoAnswerForSilenceOrARangeNotKeptOrNotWritten) {
  std::vector<float> quiet(kStretch, 0.0f);
  for (std::size_t i = 0; i < quiet.size(); ++i)
    quiet[i] = i % 2 ? 5e-4f : -5e-4f;
  EXPECT_FALSE(find(quiet).found);

  const auto captured = stretchAt(kTruth);
  const std::int64_t total = history.totalFrames();
  // A range partly past the written end is clipped to the starts that fit.
  const auto clipped = matchStretch(history, captured.data(), kStretch, kTruth, total + 5000);
  ASSERT_TRUE(clipped.found);
  EXPECT_EQ(clipped.writtenFrame, kTruth);
  const auto last = stretchAt(total - std::int64_t(kStretch));
  EXPECT_TRUE(matchStretch(history, last.data(), kStretch, 0, total).found);
  EXPECT_FALSE(matchStretch(history, last.data(), kStretch, total - 4095, total + 5000).found);
  EXPECT_FALSE(matchStretch(history, captured.data(), kStretch, kTruth + 1, kTruth).found);

  // Once more than kKeptFrames were written after them, the frames are gone.
  const auto more = stereoNoise(WrittenHistory::kKeptFrames, 4);
  history.append(more.data(), more.size() / 2);
  EXPECT_FALSE(find(captured).found);
}

TEST(MatchStretchPeriodicTest, NoAnswerWhenAPeriodicSoundMatchesAtSeveralStarts) {
  // 441 Hz: one period every 100 frames.
  std::vector<std::int16_t> stereo(2 * 44100);
  for (std::size_t i = 0; i < stereo.size() / 2; ++i)
    stereo[2 * i] = stereo[2 * i + 1] = std::int16_t(10000 * std::sin(2 * M_PI * double(i) / 100));
  WrittenHistory history;
  history.append(stereo.data(), stereo.size() / 2);
  const auto mono = monoOf(stereo);
  const std::vector<float> captured(mono.begin() + 20000, mono.begin() + 20000 + kStretch);
  EXPECT_FALSE(matchStretch(history, captured.data(), kStretch, 19000, 21000).found);
  // Within less than a period there is only one peak.
  const auto near = matchStretch(history, captured.data(), kStretch, 19980, 20020);
  ASSERT_TRUE(near.found);
  EXPECT_EQ(near.writtenFrame, 20000);
}

// Packets of 10 ms from a capture whose frame 0 was rendered at `frameZeroAt`,
// handed over in bursts of three, each burst late by 0 to 10 ms.
struct CapturePackets {
  double frameZeroAt;
  std::int64_t nextFrame = 0;
  std::mt19937 random{5};

  void feed(CaptureTiming& timing, int bursts, bool firstPrompt = false) {
    std::uniform_real_distribution<double> late(0.0005, 0.010);
    for (int b = 0; b < bursts; ++b) {
      const double burstEnd = frameZeroAt + double(nextFrame + 3 * 441) / kRate;
      const double stamp = burstEnd + (firstPrompt && b == 0 ? 0.0 : late(random));
      for (int p = 0; p < 3; ++p, nextFrame += 441)
        timing.addPacket(nextFrame, 441, stamp);
    }
  }
};

TEST(CaptureTimingTest, LatePacketsGiveTheRenderTimeOfAPromptOne) {
  CaptureTiming timing;
  EXPECT_FALSE(timing.ready());
  CapturePackets packets{100.0};
  packets.feed(timing, 50);
  ASSERT_TRUE(timing.ready());
  // Never early, and no later than the least late packet.
  EXPECT_GE(timing.renderedAt(44100), 101.0);
  EXPECT_LT(timing.renderedAt(44100), 101.0105);
  packets.feed(timing, 1, true);
  packets.feed(timing, 200);
  EXPECT_NEAR(timing.renderedAt(44100), 101.0, 0.0005);
  EXPECT_NEAR(timing.renderedAt(packets.nextFrame), 100.0 + double(packets.nextFrame) / kRate,
              0.0005);
}

TEST(CaptureTimingTest, FollowsANewTruthAfterAResetOrOnceTheOldPacketsLeaveTheWindow) {
  CaptureTiming timing;
  CapturePackets packets{100.0};
  packets.feed(timing, 1, true);
  // The capture now runs 50 ms behind: until the prompt old packet leaves the
  // window, the timing keeps the old (lower) envelope.
  packets.frameZeroAt += 0.050;
  packets.feed(timing, 300); // 9 s
  packets.feed(timing, 1, true);
  EXPECT_NEAR(timing.renderedAt(0), 100.0, 0.0005);
  packets.feed(timing, 50); // 1.5 s more
  EXPECT_NEAR(timing.renderedAt(0), 100.05, 0.0005);

  timing.reset();
  EXPECT_FALSE(timing.ready());
  CapturePackets restarted{200.0};
  restarted.feed(timing, 1, true);
  EXPECT_NEAR(timing.renderedAt(441), 200.01, 0.0005);
}

} // namespace
