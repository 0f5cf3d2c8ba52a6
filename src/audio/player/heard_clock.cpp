#include "audio/player/heard_clock.h"

#include <algorithm>
#include <cmath>

namespace {

// Reports of the same frame tell of the same moment; the newer one may have
// timed it anew (a clock converted again) or reach further (more was
// handed over), and takes its place.
bool sameFrame(const HeardReport& a, const HeardReport& b) {
  return a.frame == b.frame;
}

} // namespace

void HeardClock::reset() {
  pendingCount = 0;
  haveReport = false;
  started = false;
  position = 0.0;
}

void HeardClock::take(const HeardReport& report, Clock::time_point now) {
  if (report.at <= now) {
    current = report;
    haveReport = true;
    // Anything timed before it is older news.
    pendingCount = 0;
    return;
  }
  if (pendingCount > 0 && sameFrame(report, pending[pendingCount - 1])) {
    pending[pendingCount - 1] = report;
    return;
  }
  if (pendingCount == kMostPending) {
    std::move(pending.begin() + 1, pending.end(), pending.begin());
    --pendingCount;
  }
  pending[pendingCount++] = report;
}

void HeardClock::takeDueReports(Clock::time_point now) {
  std::size_t due = 0;
  while (due < pendingCount && pending[due].at <= now)
    ++due;
  if (due == 0)
    return;
  current = pending[due - 1];
  haveReport = true;
  std::move(pending.begin() + static_cast<std::ptrdiff_t>(due),
            pending.begin() + static_cast<std::ptrdiff_t>(pendingCount), pending.begin());
  pendingCount -= due;
}

double HeardClock::estimateAt(const HeardReport& report, Clock::time_point now) {
  const double elapsed = std::chrono::duration<double>(now - report.at).count();
  return static_cast<double>(report.frame) +
         std::clamp(elapsed * kSampleRate, 0.0, static_cast<double>(report.reachFrames));
}

std::int64_t HeardClock::framesAt(Clock::time_point now) {
  takeDueReports(now);
  if (!haveReport)
    return 0;
  const double estimate = estimateAt(current, now);
  if (!started) {
    started = true;
    position = estimate;
  } else {
    const double elapsed = std::max(0.0, std::chrono::duration<double>(now - readAt).count());
    const double fastest = position + elapsed * kSampleRate * (1.0 + kCatchUp);
    position = std::clamp(estimate, position, fastest);
  }
  readAt = now;
  return static_cast<std::int64_t>(std::floor(position));
}
