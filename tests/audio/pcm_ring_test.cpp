#include "audio/pcm_ring.h"

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

} // namespace
