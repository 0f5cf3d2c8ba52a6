// The music player on the SDL backend, end to end: SDL's disk driver writes
// exactly what the device was given, at the real-time pace.
#include "audio/player/music_player.h"
#include "test_tracks.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <thread>

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

constexpr std::uint64_t kDeviceBufferBytes = 1024 * kBytesPerFrame;

std::uint64_t sizeOf(const std::filesystem::path& path) {
  std::error_code error;
  const auto size = std::filesystem::file_size(path, error);
  return error ? 0 : size;
}

// One look at the clock, between two looks at how much the device has written.
struct Reading {
  // Taken just before and just after the clock: a busy machine may stop the
  // thread between taking the time and reading the clock.
  Clock::time_point before;
  Clock::time_point after;
  float seconds;
  std::uint64_t writtenBefore;
  std::uint64_t writtenAfter;
};

TEST(SdlMusicPlayerTest, NoSoundDeviceFailsInitialisation) {
  setenv("SDL_AUDIODRIVER", "viriz-no-such-driver", 1);
  EXPECT_FALSE(MusicPlayer::initSound(nullptr));
  MusicPlayer::stop();
  EXPECT_EQ(MusicPlayer::currentTime(), 0.0f);
  unsetenv("SDL_AUDIODRIVER");
}

TEST(SdlMusicPlayerTest, DevicePlaysTheTrackAndTheClockFollowsIt) {
  constexpr double kPlaySeconds = 10.5;
  const auto track = encodeTestTrack(12.0);
  const DecodedTrack reference = decodeTrack(track);
  DataDirectory data;
  data.addFile("track.ogg", track);
  const auto played = data.path() / "played.raw";
  setenv("SDL_AUDIODRIVER", "disk", 1);
  setenv("SDL_DISKAUDIOFILE", played.c_str(), 1);

  ASSERT_TRUE(MusicPlayer::initSound(nullptr));
  ASSERT_TRUE(MusicPlayer::openMusic(data.open("track.ogg"), 0.0f));
  MusicPlayer::startStreaming();
  std::vector<Reading> readings;
  readings.reserve(20000);
  const auto deadline = Clock::now() + 40s;
  while (Clock::now() < deadline) {
    Reading reading;
    reading.writtenBefore = sizeOf(played);
    reading.before = Clock::now();
    reading.seconds = MusicPlayer::currentTime();
    reading.after = Clock::now();
    reading.writtenAfter = sizeOf(played);
    readings.push_back(reading);
    if (reading.seconds > kPlaySeconds)
      break;
    std::this_thread::sleep_for(1ms);
  }
  MusicPlayer::stop();
  unsetenv("SDL_AUDIODRIVER");
  unsetenv("SDL_DISKAUDIOFILE");
  ASSERT_GT(readings.back().seconds, kPlaySeconds) << "playback did not get that far in time";

  // The device plays silence until playback starts; from there on it must
  // have played the decoded track byte for byte.
  const std::vector<std::uint8_t> recording = readFile(played);
  const long start = findBytes(recording, reference.pcm.data(), 8192);
  ASSERT_GE(start, 0) << "the track's beginning was never played";
  const auto compared = static_cast<std::size_t>(kPlaySeconds * kBytesPerSecond);
  ASSERT_GE(recording.size(), static_cast<std::size_t>(start) + compared);
  for (std::size_t i = 0; i < compared; ++i)
    ASSERT_EQ(recording[start + i], reference.pcm[i]) << "first difference at byte " << i;

  // The clock never goes back, moves on smoothly rather than a device buffer
  // at a time, and stays within one device buffer of what the device has
  // taken. The file shows what was taken only up to two device buffers late:
  // the disk driver writes each buffer after the callback has filled it,
  // through a stdio stream whose 4096-byte buffer holds back every other
  // 4096-byte write until the next one.
  const Reading* previous = &readings.front();
  for (const Reading& reading : readings) {
    ASSERT_GE(reading.seconds, previous->seconds);
    const std::chrono::duration<double> elapsed = reading.after - previous->before;
    ASSERT_LT(reading.seconds - previous->seconds, elapsed.count() + 0.005);
    previous = &reading;
    if (reading.seconds == 0.0f)
      continue;
    const double heard = reading.seconds * kBytesPerSecond;
    const double takenLeast = static_cast<double>(reading.writtenBefore) - start;
    const double takenMost =
        static_cast<double>(reading.writtenAfter) - start + 2 * kDeviceBufferBytes;
    ASSERT_LE(heard, takenMost + kBytesPerFrame);
    ASSERT_GE(heard, takenLeast - kDeviceBufferBytes - kBytesPerFrame);
  }
}

} // namespace
