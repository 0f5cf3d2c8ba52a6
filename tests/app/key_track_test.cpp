#include "app/key_track.h"

#include <gtest/gtest.h>

#include <cstring>

namespace {

KeyTrack fadeTrack() {
  KeyTrack track;
  track.addKey({0.0f, 1.0f});
  track.addKey({0.1f, 0.0f});
  track.addKey({0.9f, 0.0f});
  track.addKey({1.0f, 1.0f});
  return track;
}

TEST(KeyTrack, NeedsFourKeysAndThrowsAPlainString) {
  KeyTrack track;
  for (int i = 0; i < 3; ++i) {
    try {
      track.evaluate(0.5f);
      FAIL() << "no throw with " << i << " keys";
    } catch (const char* text) {
      EXPECT_STREQ(text, "not enough keys");
    }
    track.addKey({static_cast<float>(i), 0.0f});
  }
  EXPECT_EQ(track.allKeys().size(), 3u);
  track.addKey({3.0f, 0.0f});
  EXPECT_NO_THROW(track.evaluate(0.5f));
}

TEST(KeyTrack, FadeTrackOverOneBeat) {
  KeyTrack track = fadeTrack();
  // Whole beats land on key 0.
  for (float t : {0.0f, 1.0f, 2.0f, 7.0f})
    EXPECT_FLOAT_EQ(track.evaluate(t), 1.0f) << t;
  // Halfway down the first drop, with the last key's value wrapped in as p0.
  EXPECT_NEAR(track.evaluate(0.05f), 0.5f, 1e-3f);
  // The dark middle overshoots below 0, as a Catmull-Rom through 1, 0, 0, 1 does.
  EXPECT_NEAR(track.evaluate(0.5f), -0.125f, 1e-3f);
  // Segment 2 rises again, with key 0 wrapped in as p3.
  EXPECT_NEAR(track.evaluate(7.95f), 0.5f, 2e-3f);
}

TEST(KeyTrack, SegmentsAndOutOfRangeTimes) {
  KeyTrack track = fadeTrack();
  EXPECT_EQ(track.findSegment(0.0f), 0);
  EXPECT_EQ(track.findSegment(0.1f), 1);
  EXPECT_EQ(track.findSegment(0.95f), 2);
  // Negative times wrap to negative values, find no segment and extrapolate
  // segment 0's cubic with a negative s.
  EXPECT_EQ(track.findSegment(-0.05f), 0);
  float s = -0.5f;
  EXPECT_FLOAT_EQ(track.evaluate(-0.05f), catmullRom(1.0f, 1.0f, 0.0f, 0.0f, s));
}

TEST(KeyTrack, CatmullRomPassesThroughItsMiddleKeys) {
  EXPECT_FLOAT_EQ(catmullRom(3.0f, -2.0f, 5.0f, 1.0f, 0.0f), -2.0f);
  EXPECT_FLOAT_EQ(catmullRom(3.0f, -2.0f, 5.0f, 1.0f, 1.0f), 5.0f);
  // A straight line stays straight.
  EXPECT_FLOAT_EQ(catmullRom(0.0f, 1.0f, 2.0f, 3.0f, 0.25f), 1.25f);
}

TEST(KeyTrack, ZeroLengthSegmentGivesItsKeyValue) {
  KeyTrack track;
  track.addKey({0.0f, 4.0f});
  track.addKey({0.0f, 7.0f});
  track.addKey({0.5f, 2.0f});
  track.addKey({1.0f, 4.0f});
  // A negative time falls back to segment 0, which has no length here: no
  // division by zero, just the key's value.
  EXPECT_FLOAT_EQ(track.evaluate(-0.25f), 4.0f);
  EXPECT_EQ(track.findSegment(0.0f), 1);
}

} // namespace
