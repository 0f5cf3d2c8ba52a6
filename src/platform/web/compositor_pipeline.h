#pragma once

#include <array>

// How long a frame that the page hands over takes to reach the screen. The
// browser takes the frame that a page's animation-frame callback draws
// through a pipeline: the page's compositor commits and submits it, the
// display compositor draws it into the window, and the GPU process executes
// the page's drawing and the display's, then swaps. Each stage holds one
// frame while the next works on the one before, so a frame shows about three
// frame intervals after the page began to draw it (measured with the
// browser's own trace, tests/web/sync_page.py --pipeline). The page is not
// told when a given frame showed, but the animation frames' times tell the
// interval: the mean of the last few without the longest and the shortest,
// so that one held-up frame does not count.
class CompositorPipeline {
public:
  // Seconds from nowMs until the frame drawn since drawingBeganMs, in the
  // animation frame whose time is frameMs, shows (all on the page's clock, in
  // ms); 0 until two animation frames have been seen.
  double untilShown(double frameMs, double drawingBeganMs, double nowMs);

private:
  static constexpr int kIntervals = 15;

  double typicalInterval() const;

  std::array<double, kIntervals> intervals{}; // ms, the newest at next - 1
  int count = 0;
  int next = 0;
  double lastFrameMs = 0.0;
  bool framesSeen = false;
};
