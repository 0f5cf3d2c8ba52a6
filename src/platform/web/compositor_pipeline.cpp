#include "platform/web/compositor_pipeline.h"

#include <algorithm>
#include <numeric>

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
  const double shownAtMs = drawingBeganMs + kFramesInFlight * typicalInterval();
  return std::max(0.0, shownAtMs - nowMs) / 1000.0;
}

// The mean of the intervals without the fifth longest and the fifth shortest
// of them (three each of fifteen): the animation frames come on the display's
// ticks, so single intervals are whole ticks (16.7, 33.3, 50 ms at 60 Hz),
// and a median would jump by a tick where the mean moves smoothly.
double CompositorPipeline::typicalInterval() const {
  std::array<double, kIntervals> sorted = intervals;
  std::sort(sorted.begin(), sorted.begin() + count);
  const int trimmed = count / 5;
  return std::accumulate(sorted.begin() + trimmed, sorted.begin() + count - trimmed, 0.0) /
         (count - 2 * trimmed);
}
