#pragma once
#include <cstddef>
#include <cstdint>
#include <deque>
#include <limits>
#include <mutex>
#include <vector>

// Where the sound that was heard came from: a recording of the output (the
// sound server's monitor, same format as the music) is matched against the
// PCM the player wrote, and the recording's packet stamps tell when the
// matched written frame was rendered. An output whose own report of what it
// has played goes wrong is then timed by what it actually played.

// The music as written to the output: one continuous stream of frames,
// numbered from 0 in the order written, kept as mono (mean of the two
// channels) floats for the last kKeptFrames. Appended from the player's
// thread, read from the listener's: every call is thread-safe.
class WrittenHistory {
public:
  static constexpr std::size_t kKeptFrames = 4 * 44100;
  void append(const std::int16_t* stereo, std::size_t frames); // interleaved L,R
  std::int64_t totalFrames() const;                            // appended so far
  // Copies frames [from, from + count) as mono; false unless all of them are kept.
  bool copy(std::int64_t from, std::size_t count, float* out) const;

private:
  mutable std::mutex mutex;
  std::vector<float> ring = std::vector<float>(kKeptFrames); // frame n at n % kKeptFrames
  std::int64_t total = 0;
};

struct StretchMatch {
  bool found = false;
  std::int64_t writtenFrame = 0; // the written frame the stretch's first frame is a copy of
  double score = 0.0;            // normalised correlation at the best start, at most 1
};

// Finds which written frame the captured stretch (mono, `count` frames) starts
// at, among starts in [earliest, latest] (both inclusive, in written-frame numbers).
// The range is clipped to the starts whose whole window is kept; not found when
// nothing is left (or the history moved past it meanwhile), when the stretch is
// near silence, when the best score is below 0.6, or when a start outside the
// best one's peak (where the scores fall away from it, and at least 8 frames
// either side) scores above 0.9 of it (a periodic sound: no answer rather
// than a wrong one).
StretchMatch matchStretch(const WrittenHistory& written, const float* captured, std::size_t count,
                          std::int64_t earliest, std::int64_t latest);

// When captured frames were rendered, from the capture packets' stamps. A
// packet can only be handed over after its last frame was rendered, and is
// often handed over later (the capture's own timer), never earlier: so the
// lower envelope of (stamp - (firstFrame + frames) / rate) over recent packets
// tells when capture frame 0 would have been rendered.
class CaptureTiming {
public:
  static constexpr double kWindowSeconds = 10.0;
  // A packet of `frames` frames starting at capture frame `firstFrame`, handed over at
  // `stampSeconds`.
  void addPacket(std::int64_t firstFrame, std::uint32_t frames, double stampSeconds);
  // Forget everything (after a gap in the capture).
  void reset();
  bool ready() const; // at least one packet seen
  // When capture frame `frame` was rendered: the envelope over the packets of the
  // last kWindowSeconds (by stamp) plus frame / 44100. Only called when ready().
  double renderedAt(std::int64_t frame) const;

private:
  // What one packet says about when capture frame 0 was rendered: no later
  // than its stamp less the duration up to the packet's end. A packet handed
  // over promptly makes this the truth, so the smallest bound is kept.
  struct Bound {
    double stamp;
    double frameZeroAt;
  };
  // The packets that may yet be the window's minimum, oldest first, with
  // frameZeroAt increasing: a packet is dropped once a later one bounds lower
  // (it can never be the minimum again) or its stamp leaves the window.
  std::deque<Bound> envelope;
  double latestStamp = -std::numeric_limits<double>::infinity();
};
