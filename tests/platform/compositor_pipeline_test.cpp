// The page's estimate of when a frame handed over reaches the screen.
#include "platform/web/compositor_pipeline.h"

#include <gtest/gtest.h>

namespace {

// Animation frames `intervalMs` apart from `startMs`, each drawn from
// `lateMs` after its time and handed over `drawingMs` after that; returns the
// last estimate.
double frames(CompositorPipeline& pipeline, int count, double startMs, double intervalMs,
              double lateMs = 3.0, double drawingMs = 2.0) {
  double untilShown = 0.0;
  for (int frame = 0; frame < count; ++frame) {
    const double time = startMs + frame * intervalMs;
    untilShown = pipeline.untilShown(time, time + lateMs, time + lateMs + drawingMs);
  }
  return untilShown;
}

TEST(CompositorPipeline, ThreeFrameIntervalsFromTheStartOfTheDrawing) {
  CompositorPipeline pipeline;
  EXPECT_EQ(pipeline.untilShown(1000.0, 1001.0, 1003.0), 0.0); // no interval seen yet
  // 25 frames a second, drawn 2 ms long: from the hand-over, three intervals
  // less the drawing, however late the drawing began.
  EXPECT_NEAR(frames(pipeline, 20, 1040.0, 40.0), (3 * 40.0 - 2.0) / 1000, 1e-9);
  EXPECT_NEAR(frames(pipeline, 1, 1840.0, 40.0, 20.0), (3 * 40.0 - 2.0) / 1000, 1e-9);
  // 60 frames a second.
  CompositorPipeline fast;
  EXPECT_NEAR(frames(fast, 20, 0.0, 1000.0 / 60, 1.0, 5.0), (3 * 1000.0 / 60 - 5.0) / 1000, 1e-9);
}

TEST(CompositorPipeline, IntervalsOfWholeDisplayTicksGiveTheirMean) {
  // 25 frames a second on a 60 Hz display: two ticks, then one of three, in
  // turn (33.3, 50, 33.3, 50, ...): the estimate stays at their mean, 41.7 ms,
  // instead of jumping between the two.
  CompositorPipeline pipeline;
  const double tick = 1000.0 / 60;
  double time = 0.0;
  for (int frame = 0; frame < 40; ++frame) {
    time += (frame % 2 == 0 ? 2 : 3) * tick;
    const double untilShown = pipeline.untilShown(time, time, time);
    if (frame >= 20) {
      // Within three times a tick over the nine intervals averaged.
      EXPECT_NEAR(untilShown, 3 * 2.5 * tick / 1000, 3 * tick / 9 / 1000) << frame;
    }
  }
}

TEST(CompositorPipeline, OneHeldUpFrameDoesNotMoveTheEstimate) {
  CompositorPipeline pipeline;
  frames(pipeline, 20, 0.0, 40.0);
  // The page's thread held up for 300 ms: one long interval among short ones.
  const double afterStall = frames(pipeline, 1, 20 * 40.0 + 300.0, 40.0);
  EXPECT_NEAR(afterStall, (3 * 40.0 - 2.0) / 1000, 1e-9);
  // The frame rate falls for good: the estimate follows within the window.
  const double slower = frames(pipeline, 15, 21 * 40.0 + 300.0 + 50.0, 50.0);
  EXPECT_NEAR(slower, (3 * 50.0 - 2.0) / 1000, 1e-9);
}

TEST(CompositorPipeline, CallsWithinOneAnimationFrameOrOutsideOneAddNoInterval) {
  CompositorPipeline pipeline;
  frames(pipeline, 10, 0.0, 40.0);
  // A second frame in the same animation frame (the page going away), and a
  // call outside any (time 0): the interval stays, and nothing is negative.
  EXPECT_NEAR(pipeline.untilShown(360.0, 365.0, 370.0), (365.0 + 120.0 - 370.0) / 1000, 1e-9);
  EXPECT_EQ(pipeline.untilShown(0.0, 300.0, 500.0), 0.0);
  EXPECT_NEAR(frames(pipeline, 1, 400.0, 40.0), (3 * 40.0 - 2.0) / 1000, 1e-9);
}

} // namespace
