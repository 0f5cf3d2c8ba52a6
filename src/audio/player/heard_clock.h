#pragma once

#include "audio/sound_buffer.h"

#include <array>
#include <chrono>
#include <cstdint>

// The demo's clock made from the backends' reports of what is heard, by one
// rule for every output. A report's estimate moves on from its frame at the
// nominal rate as far as its reach; the clock follows the estimate of the
// newest report that is due, and
// - never goes back: an estimate behind it (a stall, a larger latency taken
//   in, a report corrected backwards) holds it still until the estimate
//   catches up,
// - never jumps: an estimate ahead of it is caught up at most kCatchUp faster
//   than the nominal rate, so read every millisecond it moves at most 1.5 ms,
// - stands still where the newest report's reach ends (the output stalled, or
//   its reports stopped coming).
// The first report of a playback is taken as it is. Not thread-safe: the
// player's main thread owns it.
class HeardClock {
public:
  using Clock = HeardReport::Clock;

  // An estimate ahead of the clock is caught up at this much above the
  // nominal rate: 10 ms of difference take 20 ms.
  static constexpr double kCatchUp = 0.5;

  // A new playback: the next report is taken as it is.
  void reset();

  // The backend's newest report, read at `now`. One timed ahead of `now`
  // waits until it is due, while the one before it still runs; a report of
  // the same frame as the one waiting takes its place.
  void take(const HeardReport& report, Clock::time_point now);

  // Frames heard at `now`, whole; 0 before the first report that is due.
  std::int64_t framesAt(Clock::time_point now);

private:
  void takeDueReports(Clock::time_point now);
  static double estimateAt(const HeardReport& report, Clock::time_point now);

  // Reports timed ahead, oldest first: an output with more latency than a
  // chunk has several chunks on the way. A full queue drops its oldest.
  static constexpr std::size_t kMostPending = 8;
  std::array<HeardReport, kMostPending> pending{};
  std::size_t pendingCount = 0;

  bool haveReport = false;
  HeardReport current;
  bool started = false;
  double position = 0.0; // frames, with the fraction kept
  Clock::time_point readAt{};
};
