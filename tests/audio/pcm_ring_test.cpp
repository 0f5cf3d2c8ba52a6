#include "audio/pcm_ring.h"

#include <gtest/gtest.h>

#include <numeric>

namespace {

TEST(PcmRingTest, WrappingLockSplitsIntoTwoRegionsAndUnlockPlacesThem) {
  PcmRing ring;
  LockedRegions regions;
  ASSERT_TRUE(ring.lock(kSoundBufferBytes - 100, 300, regions));
  EXPECT_EQ(regions.firstBytes, 100u);
  ASSERT_NE(regions.second, nullptr);
  EXPECT_EQ(regions.secondBytes, 200u);
  std::iota(regions.first, regions.first + 100, std::uint8_t{1});
  std::iota(regions.second, regions.second + 200, std::uint8_t{101});
  ASSERT_TRUE(ring.unlock(regions));

  std::vector<std::uint8_t> played(300);
  std::uint32_t position = kSoundBufferBytes - 100;
  ring.read(played.data(), 300, position);
  EXPECT_EQ(position, 200u);
  for (int i = 0; i < 300; ++i)
    ASSERT_EQ(played[i], static_cast<std::uint8_t>(i + 1)) << i;
}

TEST(PcmRingTest, LockKeepsWhatTheRingHeld) {
  PcmRing ring;
  LockedRegions regions;
  ASSERT_TRUE(ring.lock(10, 4, regions));
  EXPECT_EQ(regions.second, nullptr);
  regions.first[0] = 7;
  ASSERT_TRUE(ring.unlock(regions));
  ASSERT_TRUE(ring.lock(8, 8, regions));
  EXPECT_EQ(regions.first[2], 7);
  EXPECT_EQ(regions.first[3], 0);
}

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

} // namespace
