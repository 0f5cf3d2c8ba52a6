// The music player on a private PulseAudio server with a null sink: the Linux
// backend plays through the server's own stream, and its clock follows the
// server's account of what has been heard, stalls included.
#include "audio/music_player.h"
#include "temp_dir.h"
#include "test_tracks.h"

#include <gtest/gtest.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <spawn.h>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>

extern char** environ;

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

// Runs a shell command with the server's environment; its standard output.
std::string run(const std::string& command) {
  std::string output;
  if (FILE* pipe = popen((command + " 2>/dev/null").c_str(), "r")) {
    char chunk[4096];
    while (std::size_t got = std::fread(chunk, 1, sizeof chunk, pipe))
      output.append(chunk, got);
    pclose(pipe);
  }
  return output;
}

template <typename Condition> bool waitUntil(Condition condition, std::chrono::seconds timeout) {
  const auto deadline = Clock::now() + timeout;
  while (!condition()) {
    if (Clock::now() > deadline)
      return false;
    std::this_thread::sleep_for(5ms);
  }
  return true;
}

// A PulseAudio server of the test's own, with one null sink, reached through
// PULSE_SERVER for as long as the object lives.
class PrivatePulseServer {
public:
  PrivatePulseServer() {
    const std::string home = directory.file("home");
    const std::string runtime = directory.file("xdg");
    mkdir(home.c_str(), 0700);
    mkdir(runtime.c_str(), 0700);
    setenv("HOME", home.c_str(), 1);
    setenv("XDG_RUNTIME_DIR", runtime.c_str(), 1);
    setenv("PULSE_SERVER", ("unix:" + directory.file("pulse.sock")).c_str(), 1);
    unsetenv("SDL_AUDIODRIVER");
    const std::string socket =
        "module-native-protocol-unix auth-anonymous=1 socket=" + directory.file("pulse.sock");
    std::string arguments[] = {"pulseaudio",
                               "-n",
                               "--daemonize=no",
                               "--exit-idle-time=-1",
                               "--use-pid-file=no",
                               "--disallow-exit",
                               "--load=module-null-sink sink_name=null rate=44100 channels=2",
                               "--load=" + socket};
    std::vector<char*> argv;
    for (auto& argument : arguments)
      argv.push_back(argument.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t quiet;
    posix_spawn_file_actions_init(&quiet);
    posix_spawn_file_actions_addopen(&quiet, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&quiet, 2, "/dev/null", O_WRONLY, 0);
    if (posix_spawnp(&server, "pulseaudio", &quiet, nullptr, argv.data(), environ) != 0)
      server = 0;
    posix_spawn_file_actions_destroy(&quiet);
    ready = server != 0 && waitUntil([] { return !run("pactl info").empty(); }, 30s);
  }

  ~PrivatePulseServer() {
    if (server != 0) {
      kill(server, SIGTERM);
      waitpid(server, nullptr, 0);
    }
    unsetenv("PULSE_SERVER");
  }

  bool ready = false;

private:
  TempDir directory;
  pid_t server = 0;
};

class PulsePlayerTest : public ::testing::Test {
protected:
  void SetUp() override {
    if (!pulse.ready)
      GTEST_SKIP() << "no private PulseAudio server could be started";
    data.addFile("track.ogg", encodeTestTrack(8.0));
    ASSERT_TRUE(MusicPlayer::initSound(nullptr));
    ASSERT_TRUE(MusicPlayer::openMusic("track.ogg", 0.0f));
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
  EXPECT_NE(run("pactl list sink-inputs").find("viriz"), std::string::npos)
      << "the music is not a stream of the server's";
  // Over two seconds, the clock moves as real time does: the server's time
  // is the sink's, and the sink plays at the nominal rate.
  const auto [clock, real] = advanceOver([] { std::this_thread::sleep_for(2s); });
  EXPECT_NEAR(clock, real, 0.03 * real);
}

TEST_F(PulsePlayerTest, ClockStandsStillWhileTheSinkIsSuspended) {
  // Suspended, the sink plays nothing: what is heard stands still, and the
  // clock with it, give or take the time until the server's next report.
  run("pactl suspend-sink null 1");
  const auto [held, real] = advanceOver([] { std::this_thread::sleep_for(600ms); });
  run("pactl suspend-sink null 0");
  EXPECT_LT(held, 0.25) << "over " << real << " s of a suspended sink";
  // Playback goes on from where it stood, at the nominal rate.
  std::this_thread::sleep_for(300ms);
  const auto [clock, again] = advanceOver([] { std::this_thread::sleep_for(1s); });
  EXPECT_NEAR(clock, again, 0.05 * again);
}

} // namespace
