#include "platform/web/compositor_pipeline.h"

#include <algorithm>

namespace {

// Frame intervals between the start of a frame's drawing and the moment it
// shows.
constexpr double kFramesInFlight = 3.0;

} // namespace

double CompositorPipeline::untilShown(double frameMs, double drawingBeganMs, double nowMs) {
  if (framesSeen && frameMs > lastFrameMs) {
    intervals[next] = frameMs - lastFrameMs;
    next = (next + 1) % kIntervals;
    count = std::min(count + 1, kIntervals);
  }
  if (!framesSeen || frameMs > lastFrameMs)
    lastFrameMs = frameMs;
  framesSeen = true;
  if (count == 0)
    return 0.0;
  std::array<double, kIntervals> sorted = intervals;
  const auto middle = sorted.begin() + count / 2;
  std::nth_element(sorted.begin(), middle, sorted.begin() + count);
  const double shownAtMs = drawingBeganMs + kFramesInFlight * *middle;
  return std::max(0.0, shownAtMs - nowMs) / 1000.0;
}
