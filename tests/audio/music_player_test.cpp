// The music player against the hand-driven device: the test moves the play
// cursor and lets the worker refill one step at a time.
#include "audio/player/music_player.h"
#include "manual_device.h"
#include "test_tracks.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <functional>
#include <thread>

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

constexpr auto kWait = 10s;
constexpr std::uint32_t kQuarterSecond = kBytesPerSecond / 4;

const std::vector<std::uint8_t>& fourSecondTrack() {
  static const auto track = encodeTestTrack(4.0);
  return track;
}

bool waitUntil(const std::function<bool()>& condition) {
  const auto deadline = Clock::now() + kWait;
  while (!condition()) {
    if (Clock::now() > deadline)
      return false;
    std::this_thread::sleep_for(1ms);
  }
  return true;
}

// The clock follows what the device reports heard smoothly, never jumping,
// so a reading moves on to what the device reports within a moment: true
// once it reads `seconds`.
::testing::AssertionResult clockReaches(double seconds) {
  const auto deadline = Clock::now() + kWait;
  for (;;) {
    const double reading = MusicPlayer::currentTime();
    if (std::abs(reading - seconds) < 2e-6)
      return ::testing::AssertionSuccess();
    if (Clock::now() > deadline)
      return ::testing::AssertionFailure()
             << "the clock stood at " << reading << ", not " << seconds;
    std::this_thread::sleep_for(1ms);
  }
}

// What the clock must read after `heard` bytes: whole frames at 44.1 kHz.
double secondsHeard(std::uint64_t heard) {
  return static_cast<double>(heard / kBytesPerFrame) / kSampleRate;
}

class MusicPlayerTest : public ::testing::Test {
protected:
  void SetUp() override {
    manualDevice().reset();
    MusicPlayer::setRefillPeriod(1ms);
  }

  void TearDown() override {
    manualDevice().setStepping(false);
    MusicPlayer::setCalibration(std::chrono::milliseconds(0));
    MusicPlayer::setLooping(false);
    MusicPlayer::stop();
    MusicPlayer::setRefillPeriod(100ms);
  }

  void openTrack(const std::vector<std::uint8_t>& track, float startSeconds = 0.0f) {
    data.addFile("track.ogg", track);
    ASSERT_TRUE(MusicPlayer::initSound(nullptr));
    ASSERT_TRUE(MusicPlayer::openMusic(data.open("track.ogg"), startSeconds));
  }

  // Opens the track and starts the worker one step at a time; returns once
  // the initial fill is playing and the worker waits to refill.
  void startStepping(const std::vector<std::uint8_t>& track) {
    openTrack(track);
    manualDevice().setStepping(true);
    MusicPlayer::startStreaming();
    ASSERT_TRUE(manualDevice().waitForWorkerAtRefill(kWait));
    ASSERT_TRUE(manualDevice().isPlaying());
  }

  void playAndRefill(std::uint32_t bytes) {
    manualDevice().advanceCursor(bytes);
    heard += bytes;
    EXPECT_TRUE(clockReaches(secondsHeard(heard)));
    ASSERT_TRUE(manualDevice().runRefills(1, kWait));
    EXPECT_TRUE(clockReaches(secondsHeard(heard)));
  }

  // The bytes the device plays next, from the cursor on, are the track's
  // from `heard` on (silence after its end), for all but the last 4096 bytes
  // of the buffer, which a fill may leave unwritten.
  void expectBufferAheadIs(const std::vector<std::uint8_t>& pcm) {
    const std::vector<std::uint8_t> ring = manualDevice().contents();
    const std::uint32_t cursor = manualDevice().cursor();
    for (std::uint32_t i = 0; i < kSoundBufferBytes - 4096; ++i) {
      const std::uint64_t at = heard + i;
      const std::uint8_t expected = at < pcm.size() ? pcm[at] : 0;
      if (ring[(cursor + i) % kSoundBufferBytes] != expected) {
        ADD_FAILURE() << "byte " << i << " ahead of the cursor differs, " << heard << " heard";
        return;
      }
    }
  }

  // Runs `action` (a seek, a pause or a resume, which ends the worker) with
  // the worker let go, then steps again: a new playback is left with its
  // first fill playing and the worker waiting to refill.
  void withWorkerLetGo(const std::function<void()>& action) {
    manualDevice().setStepping(false);
    action();
    manualDevice().setStepping(true);
    if (!MusicPlayer::paused()) {
      ASSERT_TRUE(manualDevice().waitForWorkerAtRefill(kWait));
      ASSERT_TRUE(manualDevice().isPlaying());
    }
  }

  DataDirectory data;
  std::uint64_t heard = 0;
};

TEST_F(MusicPlayerTest, ClockReadsTheStartUntilPlaybackThenCountsFromIt) {
  openTrack(fourSecondTrack(), 1.5f);
  EXPECT_EQ(MusicPlayer::currentTime(), 1.5f);

  // A buffer that cannot be locked: nothing is written, nothing plays, and
  // the worker tries again each period.
  manualDevice().failLocks(ManualDevice::kFailForever);
  MusicPlayer::startStreaming();
  ASSERT_TRUE(manualDevice().waitForLockAttempts(3, kWait));
  EXPECT_EQ(MusicPlayer::currentTime(), 1.5f);
  EXPECT_EQ(manualDevice().counts().plays, 0);
  const auto ring = manualDevice().contents();
  EXPECT_TRUE(std::all_of(ring.begin(), ring.end(), [](std::uint8_t b) { return b == 0; }));

  // Once playing, the clock counts from the start position; the cursor has
  // not moved yet.
  manualDevice().failLocks(0);
  ASSERT_TRUE(waitUntil([] { return manualDevice().isPlaying(); }));
  EXPECT_EQ(MusicPlayer::currentTime(), 1.5f);
  manualDevice().advanceCursor(kQuarterSecond);
  EXPECT_TRUE(clockReaches(1.75));

  MusicPlayer::stop();
  EXPECT_EQ(MusicPlayer::currentTime(), 0.0f);
  EXPECT_FALSE(manualDevice().bufferExists());
}

TEST_F(MusicPlayerTest, ClockCountsHeardBytesRoundTheBuffer) {
  const DecodedTrack reference = decodeTrack(fourSecondTrack());
  startStepping(fourSecondTrack());
  EXPECT_EQ(MusicPlayer::currentTime(), 0.0f);
  expectBufferAheadIs(reference.pcm);

  // Ten quarter seconds take the cursor round the buffer twice and a half.
  for (int step = 0; step < 10; ++step) {
    playAndRefill(kQuarterSecond);
    expectBufferAheadIs(reference.pcm);
  }
  // Uneven steps put the refill range across the end of the buffer.
  for (std::uint32_t step : {4u * 1234, 4u * 30001, 4u * 7})
    playAndRefill(step);
  expectBufferAheadIs(reference.pcm);
}

TEST_F(MusicPlayerTest, ShortFreeRangeIsLeftForTheNextRefill) {
  const DecodedTrack reference = decodeTrack(fourSecondTrack());
  startStepping(fourSecondTrack());
  // The cursor has not moved: only what the initial fill left over (4096
  // bytes at most) is free, and that is not decoded into.
  const auto before = manualDevice().contents();
  ASSERT_TRUE(manualDevice().runRefills(3, kWait));
  EXPECT_EQ(manualDevice().contents(), before);
  EXPECT_EQ(MusicPlayer::currentTime(), 0.0f);

  // The next refill covers the skipped bytes as well, leaving no gap.
  playAndRefill(kQuarterSecond);
  expectBufferAheadIs(reference.pcm);
}

TEST_F(MusicPlayerTest, EndedTrackIsFollowedBySilenceAndTheClockRuns) {
  const auto track = encodeTestTrack(0.5);
  const DecodedTrack reference = decodeTrack(track);
  startStepping(track);
  // The initial fill ran past the end: the whole buffer is written and the
  // write position is back at the cursor, which counts as nothing heard.
  EXPECT_EQ(MusicPlayer::currentTime(), 0.0f);
  expectBufferAheadIs(reference.pcm);

  constexpr std::uint32_t kStep = 4 * 13230; // 0.3 s
  for (int step = 0; step < 10; ++step)
    playAndRefill(kStep);
  const auto ring = manualDevice().contents();
  EXPECT_TRUE(std::all_of(ring.begin(), ring.end(), [](std::uint8_t b) { return b == 0; }));
}

// Every refill writes up to the cursor, so a cursor that stands on the write
// position has not moved: a device that stalls for a few refill periods must
// lose no music that has not been heard, and the clock must stand still.
TEST_F(MusicPlayerTest, StalledCursorRewritesNothingAndStopsTheClock) {
  const auto track = encodeTestTrack(0.5);
  startStepping(track);
  // The track is shorter than the buffer: the initial fill wrote all of it,
  // so the write position is back on the cursor.
  const auto before = manualDevice().contents();
  ASSERT_TRUE(manualDevice().runRefills(3, kWait));
  EXPECT_EQ(MusicPlayer::currentTime(), 0.0f);
  EXPECT_EQ(manualDevice().contents(), before);

  // The same after the cursor has moved and a refill has caught up with it.
  playAndRefill(kQuarterSecond);
  const auto caughtUp = manualDevice().contents();
  ASSERT_TRUE(manualDevice().runRefills(3, kWait));
  EXPECT_TRUE(clockReaches(secondsHeard(heard)));
  EXPECT_EQ(manualDevice().contents(), caughtUp);
}

// What is heard trails the cursor by the latency the device reports and by
// the listener's calibration: the clock stands at 0 until that much has
// played, then counts on from there.
TEST_F(MusicPlayerTest, ClockTrailsTheCursorByTheOutputLatencyAndTheCalibration) {
  constexpr std::uint32_t kLatency = 4 * 1323; // 30 ms
  manualDevice().setOutputLatency(kLatency);
  const std::pair<int, std::int64_t> calibrations[] = {{0, 0}, {100, 4410}, {-20, -882}};
  for (const auto& [milliseconds, frames] : calibrations) {
    MusicPlayer::stop();
    manualDevice().reset();
    manualDevice().setOutputLatency(kLatency);
    MusicPlayer::setCalibration(std::chrono::milliseconds(milliseconds));
    heard = 0;
    startStepping(fourSecondTrack());
    const std::int64_t behind = kLatency / kBytesPerFrame + frames;
    for (std::uint32_t step : {kLatency / 2, kLatency, kQuarterSecond}) {
      manualDevice().advanceCursor(step);
      heard += step;
      const std::int64_t framesHeard =
          std::max<std::int64_t>(0, static_cast<std::int64_t>(heard / kBytesPerFrame) - behind);
      EXPECT_TRUE(clockReaches(static_cast<double>(framesHeard) / kSampleRate))
          << milliseconds << " ms calibration, " << heard << " bytes played";
      ASSERT_TRUE(manualDevice().runRefills(1, kWait));
    }
    manualDevice().setStepping(false);
  }
  MusicPlayer::setCalibration(std::chrono::milliseconds(0));
}

// The device's latency changes while it plays: the clock never goes back when
// the latency grows, never jumps when it shrinks, and then trails the cursor
// by exactly the new figure.
TEST_F(MusicPlayerTest, ChangedOutputLatencyIsFollowedSmoothly) {
  constexpr std::uint32_t kMillisecond = kBytesPerSecond / 1000;
  startStepping(fourSecondTrack());
  playAndRefill(kQuarterSecond);
  for (const std::uint32_t latency : {30 * kMillisecond, 0u}) {
    manualDevice().setOutputLatency(latency);
    ASSERT_TRUE(manualDevice().runRefills(1, kWait));
    float previous = MusicPlayer::currentTime();
    auto previousAt = Clock::now();
    // The cursor moves 1 ms at a time, at least 1 ms apart. A step may move
    // the clock by at most half as much again as the time that passed.
    for (int step = 0; step < 300; ++step) {
      std::this_thread::sleep_for(1ms);
      manualDevice().advanceCursor(kMillisecond);
      heard += kMillisecond;
      const float now = MusicPlayer::currentTime();
      const auto nowAt = Clock::now();
      const double mostStep = 1.5 * std::chrono::duration<double>(nowAt - previousAt).count();
      EXPECT_GE(now, previous) << latency << " bytes of latency, step " << step;
      EXPECT_LE(now - previous, mostStep + 5e-5) << latency << " bytes of latency, step " << step;
      previous = now;
      previousAt = nowAt;
    }
    EXPECT_TRUE(clockReaches(secondsHeard(heard - latency))) << latency;
  }
}

TEST_F(MusicPlayerTest, CursorOnTheFirstWritePositionDoesNotWrapTheClock) {
  startStepping(fourSecondTrack());
  // The initial fill stopped less than 4096 bytes short of the end of the
  // buffer, which is still silent from there on.
  const auto ring = manualDevice().contents();
  std::uint32_t writePos = kSoundBufferBytes;
  while (writePos > 0 && ring[writePos - 1] == 0)
    --writePos;
  writePos += (kBytesPerFrame - writePos % kBytesPerFrame) % kBytesPerFrame;
  ASSERT_GE(writePos, kSoundBufferBytes - 4096);
  ASSERT_LT(writePos, kSoundBufferBytes);

  // A worker held up for most of a second: the cursor reaches the write
  // position before any refill. Less than a second was written in all, so
  // the count must not wrap round to an enormous time.
  manualDevice().setCursor(writePos);
  EXPECT_GE(MusicPlayer::currentTime(), 0.0f);
  EXPECT_LT(MusicPlayer::currentTime(), 1.0f);
}

TEST_F(MusicPlayerTest, DamagedPacketIsReportedOnceAndPlaybackGoesOn) {
  const auto damaged = damageOnePage(fourSecondTrack());
  const DecodedTrack reference = decodeTrack(damaged);
  ASSERT_EQ(reference.holes, 1);

  testing::internal::CaptureStdout();
  startStepping(damaged);
  for (int step = 0; step < 12; ++step) {
    playAndRefill(kQuarterSecond);
    expectBufferAheadIs(reference.pcm);
  }
  manualDevice().setStepping(false);
  MusicPlayer::stop();
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "error in bitstream\n");
}

TEST_F(MusicPlayerTest, DecodeIntoFollowsTheTrackAndTheShortRangeRule) {
  std::vector<std::uint8_t> buffer(20000, 0xab);
  // No track open: silence, all of it.
  EXPECT_EQ(MusicPlayer::decodeInto(buffer.data(), 10000), 10000);
  EXPECT_TRUE(std::all_of(buffer.begin(), buffer.begin() + 10000, [](auto b) { return b == 0; }));
  std::fill(buffer.begin(), buffer.end(), 0xab);
  EXPECT_EQ(MusicPlayer::decodeInto(buffer.data(), 4096), 0);
  EXPECT_EQ(buffer[0], 0xab);

  const DecodedTrack reference = decodeTrack(fourSecondTrack());
  data.addFile("track.ogg", fourSecondTrack());
  ASSERT_TRUE(MusicPlayer::openMusic(data.open("track.ogg"), 0.0f));
  EXPECT_EQ(MusicPlayer::decodeInto(buffer.data(), 4096), 0);
  const int written = MusicPlayer::decodeInto(buffer.data(), 20000);
  EXPECT_GE(written, 20000 - 4096);
  EXPECT_LT(written, 20000);
  EXPECT_TRUE(std::equal(buffer.begin(), buffer.begin() + written, reference.pcm.begin()));
  EXPECT_EQ(buffer[static_cast<std::size_t>(written)], 0xab);
}

TEST_F(MusicPlayerTest, OpenFailsForMissingAndForeignFiles) {
  ASSERT_TRUE(MusicPlayer::initSound(nullptr));
  EXPECT_FALSE(MusicPlayer::openMusic(data.open("missing.ogg"), 0.0f));
  data.addFile("noise.ogg", std::vector<std::uint8_t>(5000, 0x42));
  EXPECT_FALSE(MusicPlayer::openMusic(data.open("noise.ogg"), 0.0f));
}

TEST_F(MusicPlayerTest, StopIsSafeInEveryStateAndTwice) {
  const auto stopQuickly = [] {
    const auto start = Clock::now();
    MusicPlayer::stop();
    EXPECT_LT(Clock::now() - start, 50ms);
  };
  stopQuickly();
  stopQuickly();

  manualDevice().setDeviceMissing(true);
  EXPECT_FALSE(MusicPlayer::initSound(nullptr));
  stopQuickly();
  manualDevice().setDeviceMissing(false);

  ASSERT_TRUE(MusicPlayer::initSound(nullptr));
  stopQuickly();
  EXPECT_FALSE(manualDevice().bufferExists());

  openTrack(fourSecondTrack());
  stopQuickly();
  stopQuickly();
  // The track was closed: opening it again starts from scratch.
  openTrack(fourSecondTrack());
  stopQuickly();
}

TEST_F(MusicPlayerTest, StopRightAfterStartEndsTheWorker) {
  MusicPlayer::setRefillPeriod(100ms);
  for (int round = 0; round < 5; ++round) {
    openTrack(fourSecondTrack());
    MusicPlayer::startStreaming();
    const auto start = Clock::now();
    MusicPlayer::stop();
    EXPECT_LT(Clock::now() - start, 1s);
    EXPECT_EQ(MusicPlayer::currentTime(), 0.0f);
    EXPECT_FALSE(manualDevice().bufferExists());
  }
}

TEST_F(MusicPlayerTest, LostBufferIsRestoredAndRefillsGoOn) {
  openTrack(fourSecondTrack());
  MusicPlayer::startStreaming();
  ASSERT_TRUE(waitUntil([] { return manualDevice().isPlaying(); }));
  const int unlocks = manualDevice().counts().unlocks;
  manualDevice().failLocks(2);
  ASSERT_TRUE(waitUntil([&] { return manualDevice().counts().unlocks > unlocks + 2; }));
  EXPECT_GE(manualDevice().counts().restores, 2);
  EXPECT_GE(manualDevice().counts().plays, 3);
}

TEST_F(MusicPlayerTest, BufferThatNeverComesBackDoesNotHoldUpStop) {
  MusicPlayer::setRefillPeriod(100ms);
  openTrack(fourSecondTrack());
  MusicPlayer::startStreaming();
  ASSERT_TRUE(waitUntil([] { return manualDevice().isPlaying(); }));
  manualDevice().setRestoreWorks(false);
  manualDevice().failLocks(ManualDevice::kFailForever);
  const int attempts = manualDevice().counts().lockAttempts;
  ASSERT_TRUE(manualDevice().waitForLockAttempts(attempts + 8, kWait));

  manualDevice().advanceCursor(kQuarterSecond);
  EXPECT_TRUE(clockReaches(0.25));
  const auto start = Clock::now();
  MusicPlayer::stop();
  EXPECT_LT(Clock::now() - start, 1s);
}

} // namespace

// A seek drops the playback and begins a new one at the position: the clock
// reads exactly that position until the new sound is heard and then counts
// on from it, back as well as forward, and the buffer holds the track from
// there.
TEST_F(MusicPlayerTest, SeekBeginsAfreshAtThePositionAndTheClockFollows) {
  const DecodedTrack reference = decodeTrack(fourSecondTrack());
  startStepping(fourSecondTrack());
  playAndRefill(kQuarterSecond);
  playAndRefill(kQuarterSecond);

  for (const float position : {2.0f, 1.0f}) {
    withWorkerLetGo([&] { EXPECT_TRUE(MusicPlayer::seek(position)); });
    EXPECT_EQ(MusicPlayer::currentTime(), position);
    EXPECT_EQ(manualDevice().cursor(), 0u);
    heard = static_cast<std::uint64_t>(position * kSampleRate) * kBytesPerFrame;
    expectBufferAheadIs(reference.pcm);
    for (int step = 0; step < 5; ++step) {
      playAndRefill(kQuarterSecond);
      expectBufferAheadIs(reference.pcm);
    }
  }
}

TEST_F(MusicPlayerTest, SeekIsClampedToTheTrack) {
  startStepping(fourSecondTrack());
  ASSERT_NEAR(MusicPlayer::trackLength(), 4.0, 0.01);
  withWorkerLetGo([] { MusicPlayer::seek(100.0f); });
  EXPECT_EQ(MusicPlayer::currentTime(), MusicPlayer::trackLength());
  const auto ring = manualDevice().contents();
  EXPECT_TRUE(std::all_of(ring.begin(), ring.end(), [](std::uint8_t b) { return b == 0; }));

  withWorkerLetGo([] { MusicPlayer::seek(-3.0f); });
  EXPECT_EQ(MusicPlayer::currentTime(), 0.0f);
  heard = 0;
  expectBufferAheadIs(decodeTrack(fourSecondTrack()).pcm);
}

// A pause closes the device, so nothing more is heard, and holds the clock;
// a seek while paused only moves the position; a resume plays on from
// exactly what was heard (or the new position).
TEST_F(MusicPlayerTest, PauseHoldsTheClockAndResumesWhereTheMusicWasHeard) {
  const DecodedTrack reference = decodeTrack(fourSecondTrack());
  startStepping(fourSecondTrack());
  for (int step = 0; step < 3; ++step)
    playAndRefill(kQuarterSecond);

  withWorkerLetGo([] { MusicPlayer::setPaused(true); });
  EXPECT_TRUE(MusicPlayer::paused());
  EXPECT_FALSE(manualDevice().bufferExists());
  EXPECT_EQ(MusicPlayer::currentTime(), 0.75f);
  EXPECT_EQ(MusicPlayer::currentTime(), 0.75f);

  withWorkerLetGo([] { MusicPlayer::setPaused(false); });
  EXPECT_FALSE(MusicPlayer::paused());
  EXPECT_EQ(MusicPlayer::currentTime(), 0.75f);
  expectBufferAheadIs(reference.pcm);
  playAndRefill(kQuarterSecond);
  expectBufferAheadIs(reference.pcm);

  withWorkerLetGo([] {
    MusicPlayer::setPaused(true);
    EXPECT_TRUE(MusicPlayer::seek(3.0f));
  });
  EXPECT_EQ(MusicPlayer::currentTime(), 3.0f);
  EXPECT_FALSE(manualDevice().bufferExists());
  withWorkerLetGo([] { MusicPlayer::setPaused(false); });
  EXPECT_EQ(MusicPlayer::currentTime(), 3.0f);
  heard = 3 * kBytesPerSecond;
  expectBufferAheadIs(reference.pcm);
}

// A held clock must account for the latency: what is heard, not what the
// cursor has passed, is where the music resumes.
TEST_F(MusicPlayerTest, PauseHoldsWhatWasHeardBehindTheLatency) {
  constexpr std::uint32_t kLatency = 4 * 4410; // 100 ms
  manualDevice().setOutputLatency(kLatency);
  const DecodedTrack reference = decodeTrack(fourSecondTrack());
  startStepping(fourSecondTrack());
  manualDevice().advanceCursor(2 * kQuarterSecond);
  EXPECT_TRUE(clockReaches(0.4));
  withWorkerLetGo([] { MusicPlayer::setPaused(true); });
  EXPECT_TRUE(clockReaches(0.4));
  withWorkerLetGo([] { MusicPlayer::setPaused(false); });
  heard = (kBytesPerSecond * 2 / 5);
  expectBufferAheadIs(reference.pcm);
}

// Looping: the track's end is followed at once by its start in the buffer,
// and the clock goes round with what is heard.
TEST_F(MusicPlayerTest, LoopingGoesRoundWithoutAGapAndTheClockWithIt) {
  const auto track = encodeTestTrack(0.5);
  const DecodedTrack reference = decodeTrack(track);
  const std::uint64_t trackBytes = reference.pcm.size();
  const double length = secondsHeard(trackBytes);
  MusicPlayer::setLooping(true);
  startStepping(track);
  EXPECT_NEAR(MusicPlayer::trackLength(), length, 1e-6);

  constexpr std::uint32_t kStep = 4 * 13230; // 0.3 s
  for (int step = 0; step < 8; ++step) {
    manualDevice().advanceCursor(kStep);
    heard += kStep;
    EXPECT_TRUE(clockReaches(secondsHeard(heard % trackBytes)));
    ASSERT_TRUE(manualDevice().runRefills(1, kWait));
    const std::vector<std::uint8_t> ring = manualDevice().contents();
    const std::uint32_t cursor = manualDevice().cursor();
    for (std::uint32_t i = 0; i < kSoundBufferBytes - 4096; ++i) {
      if (ring[(cursor + i) % kSoundBufferBytes] != reference.pcm[(heard + i) % trackBytes]) {
        ADD_FAILURE() << "byte " << i << " ahead of the cursor differs, " << heard << " heard";
        return;
      }
    }
  }

  // A seek to the end is a seek to the start.
  withWorkerLetGo([] { MusicPlayer::seek(100.0f); });
  EXPECT_EQ(MusicPlayer::currentTime(), 0.0f);
}

TEST_F(MusicPlayerTest, ControlsWithoutATrackDoNothing) {
  EXPECT_FALSE(MusicPlayer::seek(1.0f));
  MusicPlayer::setPaused(true);
  EXPECT_FALSE(MusicPlayer::paused());
  EXPECT_EQ(MusicPlayer::currentTime(), 0.0f);
  EXPECT_EQ(MusicPlayer::trackLength(), 0.0f);
}
