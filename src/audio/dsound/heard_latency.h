#pragma once

#include "audio/dsound/heard_sound_match.h"

#include <cstdint>
#include <deque>
#include <vector>

// How far what is heard trails the play cursor, measured by listening: the
// output's own recording of what it plays (a sound server's monitor of the
// sink) is matched against what was written, and the recording's time stamps
// tell when that written frame was heard; where the cursor stood then gives
// the distance. For outputs whose reported position does not see all that
// delays the sound (Wine's, after the sound server ran dry of its stream).
//
// Written frames are numbered in the order written (WrittenHistory), the
// cursor in the same numbers, capture frames as the capture counts them;
// times are seconds on one monotonic clock.
class HeardLatency {
public:
  // Captured frames matched at once: 93 ms, long enough to be unique in
  // music, short enough to follow a change within a second.
  static constexpr std::size_t kStretchFrames = 4096;
  // Either side of where the current figure expects the stretch.
  static constexpr std::int64_t kSearchFrames = 44100 / 5;
  // The figure is the median of this many latest measurements, so that one
  // odd match does not move it, while a real change is taken in within a
  // second.
  static constexpr std::size_t kMeasurements = 5;

  explicit HeardLatency(std::int64_t initialLatencyFrames);

  // The music as written; appended from the writer's thread.
  WrittenHistory& written() { return history; }

  // The play cursor stood at written frame `frame` at `seconds`.
  void cursorAt(double seconds, std::int64_t frame);

  // A captured packet of `frames` interleaved stereo frames starting at
  // capture frame `firstFrame`, handed over at `seconds`. `gap`: the capture
  // lost sound before this packet.
  void captured(const std::int16_t* stereo, std::uint32_t frames, std::int64_t firstFrame,
                double seconds, bool gap);

  // Matches the latest captured stretch; true when that gave a measurement.
  bool measure();

  // The median of the latest measurements; the initial figure until the first.
  std::int64_t latencyFrames() const { return latency; }

private:
  struct CursorReading {
    double seconds;
    std::int64_t frame;
  };

  bool cursorFrameAt(double seconds, std::int64_t& frame) const;

  WrittenHistory history;
  CaptureTiming timing;
  std::deque<CursorReading> cursor;
  // The latest captured frames as mono, round a ring indexed by capture frame.
  std::vector<float> recent = std::vector<float>(2 * kStretchFrames);
  std::int64_t capturedFrom = 0; // first frame since the last gap
  std::int64_t capturedEnd = 0;  // one past the last frame captured
  bool capturing = false;
  std::deque<std::int64_t> measurements;
  std::int64_t latency;
};
