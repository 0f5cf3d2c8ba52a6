// The follower between an output's readings of where playback stands and the
// clock: it passes steady readings through, never goes back, stands still in
// a stall and catches up with a reading ahead without jumping.
#include "audio/playback_follower.h"
#include "audio/sound_buffer.h"

#include <gtest/gtest.h>

namespace {

using namespace std::chrono_literals;
using Clock = PlaybackFollower::Clock;

constexpr std::uint64_t kBytesPerMs = kBytesPerSecond / 1000 / kBytesPerFrame * kBytesPerFrame;

// Bytes of `ms` milliseconds, in whole frames.
std::uint64_t bytesOf(double ms) {
  const auto bytes = static_cast<std::uint64_t>(ms * kBytesPerSecond / 1000.0);
  return bytes - bytes % kBytesPerFrame;
}

TEST(PlaybackFollowerTest, SteadyReadingsPassThroughAndTheFirstIsTakenAsItIs) {
  PlaybackFollower follower;
  const auto start = Clock::now();
  EXPECT_EQ(follower.follow(bytesOf(500), start), bytesOf(500));
  for (int ms = 1; ms <= 100; ++ms)
    EXPECT_EQ(follower.follow(bytesOf(500 + ms), start + ms * 1ms), bytesOf(500 + ms)) << ms;
}

TEST(PlaybackFollowerTest, StallHoldsThePositionAndPlaybackGoesOnFromThere) {
  PlaybackFollower follower;
  const auto start = Clock::now();
  follower.follow(bytesOf(100), start);
  // The output stalls for 300 ms: the reading stands still, and so does the
  // position; a reading corrected backwards does not move it back either.
  for (int ms = 1; ms <= 300; ++ms)
    EXPECT_EQ(follower.follow(bytesOf(ms == 150 ? 95 : 100), start + ms * 1ms), bytesOf(100));
  // Playback resumes: the position moves with the reading, with no jump.
  EXPECT_EQ(follower.follow(bytesOf(101), start + 301ms), bytesOf(101));
}

TEST(PlaybackFollowerTest, ReadingAheadIsCaughtUpWithoutAJump) {
  PlaybackFollower follower;
  const auto start = Clock::now();
  follower.follow(0, start);
  // The reading jumps 20 ms ahead of real time and then runs on steadily.
  std::uint64_t previous = 0;
  int caughtUpAt = 0;
  for (int ms = 1; ms <= 400; ++ms) {
    const std::uint64_t reading = bytesOf(20 + ms);
    const std::uint64_t position = follower.follow(reading, start + ms * 1ms);
    // At 1 ms readings, no step is larger than 1.1 ms of sound.
    EXPECT_LE(position - previous, bytesOf(1.1) + kBytesPerFrame) << ms;
    EXPECT_LE(position, reading);
    previous = position;
    if (position == reading && caughtUpAt == 0)
      caughtUpAt = ms;
  }
  // 20 ms at a tenth above the nominal rate: about 200 ms.
  EXPECT_GT(caughtUpAt, 150);
  EXPECT_LT(caughtUpAt, 260);
}

TEST(PlaybackFollowerTest, ResetTakesTheNextReadingAsItIs) {
  PlaybackFollower follower;
  const auto start = Clock::now();
  follower.follow(bytesOf(900), start);
  follower.reset();
  EXPECT_EQ(follower.follow(bytesOf(3), start + 1ms), bytesOf(3));
  EXPECT_EQ(follower.follow(kBytesPerMs * 3 + 2, start + 2ms) % kBytesPerFrame, 0u);
}

} // namespace
