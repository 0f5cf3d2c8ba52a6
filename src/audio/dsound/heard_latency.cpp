#include "audio/dsound/heard_latency.h"

#include "audio/sound_buffer.h"

#include <algorithm>

namespace {

// Cursor readings older than this are of no more use: a stretch is matched
// well within it of its capture.
constexpr double kCursorSeconds = 3.0;

// A measurement outside this is a wrong match, not a latency.
constexpr std::int64_t kLongestLatencyFrames = 44100 / 2;

} // namespace

HeardLatency::HeardLatency(std::int64_t initialLatencyFrames) : latency(initialLatencyFrames) {}

void HeardLatency::cursorAt(double seconds, std::int64_t frame) {
  cursor.push_back({seconds, frame});
  while (!cursor.empty() && cursor.front().seconds < seconds - kCursorSeconds)
    cursor.pop_front();
}

void HeardLatency::captured(const std::int16_t* stereo, std::uint32_t frames,
                            std::int64_t firstFrame, double seconds, bool gap) {
  if (gap || !capturing || firstFrame != capturedEnd) {
    timing.reset();
    capturedFrom = firstFrame;
    capturing = true;
  }
  timing.addPacket(firstFrame, frames, seconds);
  const auto size = static_cast<std::int64_t>(recent.size());
  for (std::uint32_t i = 0; i < frames; ++i) {
    const float mono = (static_cast<float>(stereo[2 * i]) + stereo[2 * i + 1]) / (2.0f * 32768.0f);
    recent[static_cast<std::size_t>((firstFrame + i) % size)] = mono;
  }
  capturedEnd = firstFrame + frames;
}

// Where the cursor stood at `seconds`: on from the last reading taken then or
// before at the nominal rate, as the cursor moves between readings, but not
// past the next reading, which must exist (so that a stall between the two
// readings does not count as playback).
bool HeardLatency::cursorFrameAt(double seconds, std::int64_t& frame) const {
  auto after = std::find_if(cursor.begin(), cursor.end(),
                            [seconds](const CursorReading& r) { return r.seconds > seconds; });
  if (after == cursor.begin() || after == cursor.end())
    return false;
  const CursorReading& before = *std::prev(after);
  const auto moved = static_cast<std::int64_t>((seconds - before.seconds) * kSampleRate);
  frame = std::min(before.frame + moved, after->frame);
  return true;
}

bool HeardLatency::measure() {
  const auto stretch = static_cast<std::int64_t>(kStretchFrames);
  const std::int64_t first = capturedEnd - stretch;
  if (!capturing || first < capturedFrom)
    return false;
  std::int64_t cursorFrame = 0;
  if (!cursorFrameAt(timing.renderedAt(first), cursorFrame))
    return false;
  std::vector<float> stretchSamples(kStretchFrames);
  const auto size = static_cast<std::int64_t>(recent.size());
  for (std::int64_t i = 0; i < stretch; ++i)
    stretchSamples[static_cast<std::size_t>(i)] =
        recent[static_cast<std::size_t>((first + i) % size)];
  const std::int64_t expected = cursorFrame - latency;
  const StretchMatch match = matchStretch(history, stretchSamples.data(), kStretchFrames,
                                          expected - kSearchFrames, expected + kSearchFrames);
  const std::int64_t measured = cursorFrame - match.writtenFrame;
  if (!match.found || measured < 0 || measured > kLongestLatencyFrames)
    return false;
  measurements.push_back(measured);
  if (measurements.size() > kMeasurements)
    measurements.pop_front();
  std::vector<std::int64_t> sorted(measurements.begin(), measurements.end());
  std::nth_element(sorted.begin(), sorted.begin() + sorted.size() / 2, sorted.end());
  latency = sorted[sorted.size() / 2];
  return true;
}
