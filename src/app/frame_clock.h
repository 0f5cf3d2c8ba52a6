#pragma once

#include <chrono>

// When a frame reaches the screen, the music has moved on from the moment its
// clock was read: drawing, flushing and swapping take time, and where a
// compositor stands between the swap and the screen (the browser's), it holds
// the frame for longer still. Each frame is therefore drawn for the music that
// will be heard when it shows, the clock plus the delay that the frames before
// it took from clock to screen. The delay is smoothed, so that the time drawn
// moves on steadily, and the time drawn never goes back.
class FrameClock {
public:
  // The show time to draw for `heardSeconds`, the clock read just now. 0
  // (nothing heard yet) stays 0.
  float showTime(float heardSeconds);

  // The frame drawn for the last showTime() has just been handed to the
  // screen, and reaches it `untilShownSeconds` from now (what
  // GlWindow::swapBuffers() tells).
  void presented(double untilShownSeconds);

  // The music jumped (a seek, or a loop back to the start): the time drawn
  // may go back once, to the new position. The frame delay measured so far
  // still holds.
  void restart() { lastShown = 0.0f; }

  double delaySeconds() const { return delay; }

private:
  using Clock = std::chrono::steady_clock;

  Clock::time_point clockRead{};
  bool frameOpen = false;
  double delay = 0.0;
  float lastShown = 0.0f;
};
