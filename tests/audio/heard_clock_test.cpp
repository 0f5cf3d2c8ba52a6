// The clock made from the backends' reports, against traces shaped like each
// backend's: a sound server's reports with jitter, Wine's 10 ms cursor steps,
// a stall, an underflow that resumes further behind, and the browser's chunks
// timed ahead with a gap after a suspend.
#include "audio/player/heard_clock.h"

#include <gtest/gtest.h>

#include <cmath>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

namespace {

using Clock = HeardClock::Clock;
using namespace std::chrono_literals;

const Clock::time_point kStart = Clock::time_point{} + 1h;

Clock::time_point at(double seconds) {
  return kStart +
         std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(seconds));
}

std::int64_t frames(double seconds) {
  return std::llround(seconds * kSampleRate);
}

HeardReport report(double frameSeconds, double atSeconds, double reachSeconds) {
  return {frames(frameSeconds), at(atSeconds), frames(reachSeconds)};
}

// Reads the clock every millisecond from `from` to `to`, giving it the
// report that `newest` says the backend has at each moment, and checks that
// it never goes back nor moves more than 1.5 ms in a millisecond. Returns
// the readings, one a millisecond.
std::vector<std::int64_t> follow(HeardClock& clock, double from, double to,
                                 const std::function<HeardReport(double)>& newest) {
  std::vector<std::int64_t> readings;
  for (double t = from; t <= to + 1e-9; t += 0.001) {
    clock.take(newest(t), at(t));
    const std::int64_t reading = clock.framesAt(at(t));
    if (!readings.empty()) {
      EXPECT_GE(reading, readings.back()) << "back at " << t;
      EXPECT_LE(reading - readings.back(), frames(0.0015) + 1) << "jump at " << t;
    }
    readings.push_back(reading);
  }
  return readings;
}

TEST(HeardClockTest, TakesTheFirstReportAsItIsAndMovesOnAtTheNominalRate) {
  HeardClock clock;
  EXPECT_EQ(clock.framesAt(at(0)), 0);
  clock.take(report(2.0, 0.0, 0.2), at(0.0));
  EXPECT_EQ(clock.framesAt(at(0.0)), frames(2.0));
  EXPECT_EQ(clock.framesAt(at(0.1)), frames(2.1));
  // The report's reach ends: the sound is taken to stand.
  EXPECT_EQ(clock.framesAt(at(0.5)), frames(2.2));
  clock.reset();
  clock.take(report(0.5, 1.0, 0.2), at(1.0));
  EXPECT_EQ(clock.framesAt(at(1.0)), frames(0.5));
}

// Wine moves the cursor one 10 ms period at a time, seen up to a few ms
// late; a stall stops the steps, and the device then takes what it missed at
// once. The clock moves every millisecond, stands in the stall, and catches
// up without a jump.
TEST(HeardClockTest, FollowsStepsStandsInAStallAndCatchesUpSmoothly) {
  HeardClock clock;
  const auto steps = [](double t) {
    const double stalledFrom = 1.0;
    const double stallEnds = 1.3;
    double cursor = std::floor(t / 0.01) * 0.01;
    if (t >= stalledFrom && t < stallEnds)
      cursor = stalledFrom;
    const double seenAt = t >= stalledFrom && t < stallEnds ? stalledFrom : cursor + 0.003;
    return report(cursor, std::min(seenAt, t), 0.02);
  };
  const auto readings = follow(clock, 0.0, 2.5, steps);
  // Between steps the clock runs on: no reading stands for 10 ms.
  for (std::size_t i = 100; i + 5 < 900; ++i)
    EXPECT_GT(readings[i + 5], readings[i]) << i;
  // It stands in the stall, where the reach of the last step ends.
  EXPECT_EQ(readings[1100], readings[1250]);
  EXPECT_LE(readings[1250], frames(1.02) + 1);
  // And has caught up with the steps well after it.
  EXPECT_NEAR(static_cast<double>(readings[2500]), static_cast<double>(frames(2.5 - 0.007)),
              frames(0.011));
}

// A sound server's reports come every 50 ms with a few ms of jitter in their
// arrival, and an underflow makes the sound resume 30 ms further behind: the
// clock holds rather than go back, and ends exactly on the reports.
TEST(HeardClockTest, AbsorbsJitterAndALaterResumeWithoutGoingBack) {
  HeardClock clock;
  const auto reports = [](double t) {
    const double sent = std::floor(t / 0.05) * 0.05;
    const double jitter = (static_cast<int>(sent / 0.05) % 3) * 0.002;
    const double arrived = std::min(t, sent + jitter);
    const double played = arrived < 1.0 ? arrived : arrived - 0.03;
    return report(played, arrived, 0.2);
  };
  const auto readings = follow(clock, 0.0, 2.0, reports);
  EXPECT_NEAR(static_cast<double>(readings[2000]), static_cast<double>(frames(1.97)),
              frames(0.0045));
}

// The browser times each 93 ms chunk before it plays. A suspend stops the
// chunks; after the resume the next chunk is heard 300 ms after the last one
// ended: the last chunk runs to its end, the clock stands in the gap and
// moves on with the new chunk when it is heard, not when it was timed.
TEST(HeardClockTest, RunsEachChunkWhenItIsHeardAndStandsInTheGap) {
  HeardClock clock;
  constexpr double kChunk = 4096.0 / kSampleRate;
  const auto chunks = [&](double t) {
    // Chunk k is timed 50 ms before it is heard; chunks 0-9 follow each other,
    // chunk 10 comes after a 300 ms gap.
    int k = 0;
    for (int next = 0; next < 12; ++next) {
      const double heard = next * kChunk + (next >= 10 ? 0.3 : 0.0);
      if (heard - 0.05 <= t)
        k = next;
    }
    const double heard = k * kChunk + (k >= 10 ? 0.3 : 0.0);
    return HeardReport{k * 4096, at(heard), 4096};
  };
  const auto readings = follow(clock, 0.0, 10 * kChunk + 0.4, chunks);
  // The chunks before the gap run without a stop.
  const std::size_t tenthChunk = static_cast<std::size_t>(10 * kChunk * 1000);
  EXPECT_NEAR(static_cast<double>(readings[tenthChunk - 2]), 10 * 4096, 3 * 44.1);
  // In the gap the clock stands at the end of chunk 9.
  EXPECT_EQ(readings[tenthChunk + 100], 10 * 4096);
  EXPECT_EQ(readings[tenthChunk + 290], 10 * 4096);
  // After it, chunk 10 runs from when it is heard.
  EXPECT_NEAR(static_cast<double>(readings[tenthChunk + 350]), 10 * 4096 + frames(0.05), 45);
}

// A backend's reports as recorded from the real thing (tests/audio/traces):
// when each was read, and what it said.
struct RecordedReport {
  double readMs;
  HeardReport report;
};

std::vector<RecordedReport> recordedTrace(const std::string& name) {
  std::ifstream file(std::string(VIRIZ_SOURCE_DIR) + "/tests/audio/traces/" + name);
  std::vector<RecordedReport> trace;
  std::string line;
  while (std::getline(file, line)) {
    if (line.empty() || line[0] == '#')
      continue;
    std::istringstream fields(line);
    double readMs = 0.0;
    double atMs = 0.0;
    HeardReport heard;
    fields >> readMs >> heard.frame >> atMs >> heard.reachFrames;
    heard.at = at(atMs / 1000);
    trace.push_back({readMs, heard});
  }
  return trace;
}

// Replays a recorded trace, reading the clock every millisecond: it never
// goes back or jumps, never runs ahead of what any report said, catches up
// as fast as it may while it is behind the newest report, and ends within
// `endBehindMs` of it. Returns the readings, one a millisecond from the
// first report.
std::vector<std::int64_t> replay(const std::string& name, double endBehindMs) {
  const auto trace = recordedTrace(name);
  EXPECT_GT(trace.size(), 50u) << name;
  HeardClock clock;
  std::size_t next = 0;
  HeardReport newest;
  double mostReported = -1e9;
  double last = 0.0;
  std::vector<std::int64_t> readings;
  const double firstMs = trace.empty() ? 0.0 : trace.front().readMs;
  for (double t = firstMs; !trace.empty() && t <= trace.back().readMs + 100; t += 1.0) {
    for (; next < trace.size() && trace[next].readMs <= t; ++next) {
      newest = trace[next].report;
      clock.take(newest, at(t / 1000));
    }
    const std::int64_t reading = clock.framesAt(at(t / 1000));
    const double estimate =
        static_cast<double>(newest.frame) +
        std::clamp((t / 1000 - std::chrono::duration<double>(newest.at - kStart).count()) *
                       kSampleRate,
                   0.0, static_cast<double>(newest.reachFrames));
    mostReported = std::max(mostReported, estimate);
    const std::int64_t fastestStep = frames(0.0015);
    if (!readings.empty()) {
      EXPECT_GE(reading, readings.back()) << name << " goes back at " << t << " ms";
      EXPECT_LE(reading - readings.back(), fastestStep + 1) << name << " jumps at " << t;
      if (static_cast<double>(readings.back() + fastestStep) < estimate) {
        EXPECT_GE(reading - readings.back(), fastestStep - 1) << name << " lags at " << t;
      }
    }
    EXPECT_LE(reading, mostReported + 1) << name << " runs ahead at " << t << " ms";
    readings.push_back(reading);
    last = estimate;
  }
  EXPECT_GE(static_cast<double>(readings.back()), last - endBehindMs * kSampleRate / 1000) << name;
  return readings;
}

// The null sink suspended: the report says it is not playing, and the clock
// stands from then until the sink plays again.
TEST(HeardClockTest, RecordedSuspendedSinkStandsTheClock) {
  const auto readings = replay("pulse_suspend.txt", 2);
  const auto trace = recordedTrace("pulse_suspend.txt");
  ASSERT_FALSE(trace.empty());
  const double firstMs = trace.front().readMs;
  const auto readingAt = [&](double ms) {
    return readings.at(static_cast<std::size_t>(ms - firstMs));
  };
  EXPECT_EQ(readingAt(2600), readingAt(3090));
  EXPECT_GT(readingAt(3300), readingAt(3090));
}

// The old tunnel's reports come in 60 ms steps with their own jitter; Wine's
// cursor steps every 10 ms, late and irregular on a busy machine, with a
// stall.
TEST(HeardClockTest, RecordedTunnelAndWineStepsAreFollowedSmoothly) {
  replay("pulse_tunnel.txt", 10);
  replay("wine_steps.txt", 10);
}

} // namespace
