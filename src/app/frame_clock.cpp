#include "app/frame_clock.h"

#include <algorithm>

namespace {

// Each frame moves the estimate an eighth of the way to its own delay.
constexpr double kSmoothing = 1.0 / 8.0;
// A frame held up by something else (a window being moved, a busy machine)
// must not push the picture ahead of the music for long.
constexpr double kLongestDrawing = 0.1;

} // namespace

float FrameClock::showTime(float heardSeconds) {
  clockRead = Clock::now();
  frameOpen = true;
  if (heardSeconds == 0.0f)
    return 0.0f;
  lastShown = std::max(lastShown, heardSeconds + static_cast<float>(delay));
  return lastShown;
}

void FrameClock::presented(double untilShownSeconds) {
  if (!frameOpen)
    return;
  frameOpen = false;
  const double drawing =
      std::min(kLongestDrawing, std::chrono::duration<double>(Clock::now() - clockRead).count());
  const double frameDelay = drawing + std::max(0.0, untilShownSeconds);
  delay += (frameDelay - delay) * kSmoothing;
}
