#pragma once

#include <chrono>
#include <cstdint>

// Where playback stands, as an output reports it (a sound server's stream
// time, say), comes with jitter and in small steps, and stands still while the
// output is stalled. The clock needs a position that never goes back and never
// jumps: this follows the readings and reports
// - the reading itself while it moves at the nominal rate,
// - the last position, held, while the reading is behind it (a stall, or a
//   reading corrected backwards): the clock stands still rather than go back,
// - at most kCatchUp faster than the nominal rate while the reading is ahead
//   (a correction forwards), so that no reading makes the clock jump.
class PlaybackFollower {
public:
  using Clock = std::chrono::steady_clock;

  // A reading ahead of the position is caught up at this much above the
  // nominal rate: 10 ms of difference take 100 ms.
  static constexpr double kCatchUp = 0.1;

  // The next reading is taken as it is (after a positioning).
  void reset();

  // The position to report for `readingBytes`, read at `now`; in whole frames.
  std::uint64_t follow(std::uint64_t readingBytes, Clock::time_point now);

private:
  bool started = false;
  double position = 0.0; // bytes, with the fraction of a frame kept
  Clock::time_point readAt{};
};
