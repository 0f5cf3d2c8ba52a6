#include "audio/ring/pcm_ring.h"

#include <cstdint>
#include <vector>

#include <gtest/gtest.h>

namespace {

TEST(PcmRingTest, RejectsBadRangesSecondLocksAndForeignUnlocks) {
  PcmRing ring;
  LockedRegions regions;
  EXPECT_FALSE(ring.lock(kSoundBufferBytes, 4, regions));
  EXPECT_FALSE(ring.lock(0, 0, regions));
  EXPECT_FALSE(ring.lock(0, kSoundBufferBytes + 4, regions));
  ASSERT_TRUE(ring.lock(0, kSoundBufferBytes, regions));
  LockedRegions again;
  EXPECT_FALSE(ring.lock(0, 4, again));

  regions.first[0] = 9;
  LockedRegions shorter = regions;
  shorter.firstBytes = 4;
  EXPECT_FALSE(ring.unlock(shorter));
  EXPECT_EQ(ring.contents()[0], 0);
  EXPECT_TRUE(ring.unlock(regions));
  EXPECT_EQ(ring.contents()[0], 9);
  EXPECT_FALSE(ring.unlock(regions));
}

// The ring shared by the Linux and browser outputs: silence until playing,
// a read position that starts on a whole frame and wraps, and a count of
// what the output has taken.
TEST(PcmRingTest, TakesFromThePositionAndWraps) {
  PcmRing ring;
  const std::uint32_t start = kSoundBufferBytes - 2 * kBytesPerFrame;
  LockedRegions regions;
  ASSERT_TRUE(ring.lock(start, 4 * kBytesPerFrame, regions));
  ASSERT_EQ(regions.firstBytes, 2 * kBytesPerFrame);
  ASSERT_NE(regions.second, nullptr);
  for (std::uint32_t i = 0; i < regions.firstBytes; ++i)
    regions.first[i] = static_cast<std::uint8_t>(1 + i);
  for (std::uint32_t i = 0; i < regions.secondBytes; ++i)
    regions.second[i] = static_cast<std::uint8_t>(1 + regions.firstBytes + i);
  ring.unlock(regions);

  // Positioned off a frame boundary: the read position goes down to one.
  ring.setPlayPosition(start + 3);
  std::vector<std::uint8_t> chunk(4 * kBytesPerFrame, 0xee);
  EXPECT_FALSE(ring.isPlaying());
  EXPECT_EQ(ring.take(chunk.data(), 4 * kBytesPerFrame), 0u);
  EXPECT_EQ(chunk, std::vector<std::uint8_t>(4 * kBytesPerFrame, 0));
  EXPECT_EQ(ring.readPosition(), start);

  EXPECT_TRUE(ring.startPlaying());
  EXPECT_FALSE(ring.startPlaying());
  EXPECT_EQ(ring.take(chunk.data(), 4 * kBytesPerFrame), 4 * kBytesPerFrame);
  for (std::uint32_t i = 0; i < chunk.size(); ++i)
    EXPECT_EQ(chunk[i], 1 + i) << i;
  EXPECT_EQ(ring.bytesTaken(), 4 * kBytesPerFrame);
  EXPECT_EQ(ring.readPosition(), 2 * kBytesPerFrame);

  // A new position starts the count again.
  ring.setPlayPosition(0);
  EXPECT_EQ(ring.bytesTaken(), 0u);
  EXPECT_EQ(ring.readPosition(), 0u);
  EXPECT_TRUE(ring.isPlaying());
}

} // namespace
