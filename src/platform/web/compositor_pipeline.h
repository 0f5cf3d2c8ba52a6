#pragma once

#include <array>

// How long a frame that the page hands over reaches the screen after it. The
// browser takes the frame that a page's animation-frame callback draws
// through a pipeline: the page's compositor commits and submits it, the
// display compositor draws it into the window, and the GPU process executes
// the page's drawing and the display's, then swaps. Each stage holds one
// frame while the next works on the one before, so a frame shows about three
// frame intervals after its animation frame began (measured with the
// browser's own trace; see the README's "In a browser"). The page is not told
// when a given frame showed, but the animation frames' times tell the
// interval: the median of the last few, so that one held-up frame does not
// count.
class CompositorPipeline {
public:
  // Seconds from nowMs until the frame drawn in the animation frame that
  // began at frameMs shows (both on the page's clock, in ms); 0 until two
  // animation frames have been seen.
  double untilShown(double frameMs, double nowMs);

private:
  static constexpr int kIntervals = 15;

  std::array<double, kIntervals> intervals{}; // ms, the newest at next - 1
  int count = 0;
  int next = 0;
  double lastFrameMs = 0.0;
  bool framesSeen = false;
};
