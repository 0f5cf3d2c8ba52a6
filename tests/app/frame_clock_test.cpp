// The time each frame is drawn for, and the listener's calibration of the
// sound's delay.
#include "app/frame_clock.h"
#include "app/show.h"

#include <gtest/gtest.h>

#include <chrono>

namespace {

using Clock = std::chrono::steady_clock;

// Keeps the frame open for at least `seconds`, as a slow frame would.
void takeAtLeast(double seconds) {
  const auto until = Clock::now() + std::chrono::duration<double>(seconds);
  while (Clock::now() < until) {
  }
}

TEST(FrameClock, GoesBackOnlyAfterARestart) {
  FrameClock frames;
  EXPECT_EQ(frames.showTime(30.0f), 30.0f);
  frames.presented(0.0);
  EXPECT_EQ(frames.showTime(5.0f), 30.0f); // held
  frames.presented(0.0);
  frames.restart();
  const float afterSeek = frames.showTime(5.0f);
  EXPECT_GE(afterSeek, 5.0f);
  EXPECT_LT(afterSeek, 5.2f); // at most the frame delay ahead
}

TEST(FrameClock, DrawsForTheClockPlusTheSmoothedFrameDelayAndNeverGoesBack) {
  EXPECT_EQ(FrameClock{}.showTime(1.0f), 1.0f); // no delay measured yet

  FrameClock frames;
  EXPECT_EQ(frames.showTime(0.0f), 0.0f); // nothing heard yet
  frames.presented(0.0);
  frames.showTime(1.0f);
  takeAtLeast(0.016);
  frames.presented(0.0);
  // One slow frame moves the estimate an eighth of the way.
  EXPECT_GE(frames.delaySeconds(), 0.016 / 8);
  EXPECT_LE(frames.delaySeconds(), 0.1 / 8);
  EXPECT_FLOAT_EQ(frames.showTime(1.5f), 1.5f + static_cast<float>(frames.delaySeconds()));
  frames.presented(0.0);

  // A clock reading that stands still (or a delay that shrinks) does not take
  // the picture back.
  const float shown = frames.showTime(1.5f);
  frames.presented(0.0);
  EXPECT_GE(frames.showTime(1.5f), shown);
  frames.presented(0.0);

  // A frame held up for long counts as 0.1 s at most.
  FrameClock stalled;
  stalled.showTime(1.0f);
  takeAtLeast(0.15);
  stalled.presented(0.0);
  EXPECT_LE(stalled.delaySeconds(), 0.1 / 8 + 1e-9);
}

TEST(FrameClock, CountsTheTimeFromHandOverToScreen) {
  // A compositor that shows each frame 120 ms after the hand-over (the
  // browser's at 25 frames a second): the frames are drawn that much ahead,
  // however long the drawing itself was held up.
  FrameClock frames;
  for (int frame = 0; frame < 100; ++frame) {
    frames.showTime(1.0f);
    frames.presented(0.12);
  }
  EXPECT_GT(frames.delaySeconds(), 0.119);
  EXPECT_LT(frames.delaySeconds(), 0.12 + 0.01);
  EXPECT_GT(frames.showTime(2.0f), 2.119f);

  // A figure below zero (a frame already late) counts as none.
  FrameClock late;
  late.showTime(1.0f);
  late.presented(-0.5);
  EXPECT_GE(late.delaySeconds(), 0.0);
}

TEST(AudioCalibration, SignedMillisecondsInRangeElseNothing) {
  using std::chrono::milliseconds;
  EXPECT_EQ(audioCalibration(nullptr), milliseconds(0));
  EXPECT_EQ(audioCalibration(""), milliseconds(0));
  EXPECT_EQ(audioCalibration("120"), milliseconds(120));
  EXPECT_EQ(audioCalibration("-35"), milliseconds(-35));
  EXPECT_EQ(audioCalibration("+2000"), milliseconds(2000));
  for (const char* bad : {"12ms", "abc", " ", "2001", "-2001", "99999999999999999999"})
    EXPECT_EQ(audioCalibration(bad), milliseconds(0)) << bad;
}

} // namespace
