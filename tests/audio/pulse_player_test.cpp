// The music player on a private PulseAudio server with a null sink: the Linux
// backend plays through the server's own stream, and its clock follows the
// server's account of what has been heard, stalls included.
#include "audio/player/music_player.h"
#include "private_pulse_server.h"
#include "test_tracks.h"

#include <gtest/gtest.h>

#include <string>
#include <thread>

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

template <typename Condition> bool waitUntil(Condition condition, std::chrono::seconds timeout) {
  const auto deadline = Clock::now() + timeout;
  while (!condition()) {
    if (Clock::now() > deadline)
      return false;
    std::this_thread::sleep_for(5ms);
  }
  return true;
}

class PulsePlayerTest : public ::testing::Test {
protected:
  void SetUp() override {
    if (!pulse.ready())
      GTEST_SKIP() << "no private PulseAudio server could be started";
    data.addFile("track.ogg", encodeTestTrack(8.0));
    ASSERT_TRUE(MusicPlayer::initSound(nullptr));
    ASSERT_TRUE(MusicPlayer::openMusic(data.open("track.ogg"), 0.0f));
    MusicPlayer::startStreaming();
    ASSERT_TRUE(waitUntil([] { return MusicPlayer::currentTime() > 0.05f; }, 30s));
  }

  void TearDown() override { MusicPlayer::stop(); }

  // The clock's advance over the real time it takes `wait` to return.
  template <typename Wait> std::pair<double, double> advanceOver(Wait wait) {
    const float clockBefore = MusicPlayer::currentTime();
    const auto before = Clock::now();
    wait();
    const float clockAfter = MusicPlayer::currentTime();
    return {clockAfter - clockBefore, std::chrono::duration<double>(Clock::now() - before).count()};
  }

  PrivatePulseServer pulse;
  DataDirectory data;
};

TEST_F(PulsePlayerTest, TrackPlaysThroughTheServerAndTheClockKeepsRealTime) {
  EXPECT_NE(PrivatePulseServer::run("pactl list sink-inputs").find("viriz"), std::string::npos)
      << "the music is not a stream of the server's";
  // Over two seconds, the clock moves as real time does: the server's time
  // is the sink's, and the sink plays at the nominal rate. (A machine too busy
  // to feed the server in time makes the stream underrun, and the clock
  // rightly falls behind; it never runs ahead.)
  const auto [clock, real] = advanceOver([] { std::this_thread::sleep_for(2s); });
  EXPECT_LT(clock, 1.03 * real);
  EXPECT_GT(clock, 0.5 * real);
}

TEST_F(PulsePlayerTest, ClockStandsStillWhileTheSinkIsSuspended) {
  // Suspended, the sink plays nothing: what is heard stands still, and the
  // clock with it, give or take the time until the server's next report.
  PrivatePulseServer::run("pactl suspend-sink null 1");
  const auto [held, real] = advanceOver([] { std::this_thread::sleep_for(600ms); });
  PrivatePulseServer::run("pactl suspend-sink null 0");
  EXPECT_LT(held, 0.25) << "over " << real << " s of a suspended sink";
  // Playback goes on from where it stood, at the nominal rate.
  std::this_thread::sleep_for(300ms);
  const auto [clock, again] = advanceOver([] { std::this_thread::sleep_for(1s); });
  EXPECT_LT(clock, 1.05 * again);
  EXPECT_GT(clock, 0.5 * again);
}

} // namespace
