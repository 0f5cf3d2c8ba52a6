// What the control keys ask of playback, and the --start-at value.
#include "app/playback_controls.h"

#include <gtest/gtest.h>

#include <initializer_list>
#include <string>

namespace {

ControlPresses pressed(std::initializer_list<ControlKey> keys) {
  ControlPresses presses;
  for (const ControlKey key : keys)
    presses.add(key);
  return presses;
}

TEST(PlaybackControls, SpaceTogglesThePauseAndMovesNothing) {
  const PlaybackRequest pause =
      playbackRequest(pressed({ControlKey::PauseResume}), 12.0f, false, 60.0f);
  EXPECT_TRUE(pause.paused);
  EXPECT_FALSE(pause.seek);
  EXPECT_FALSE(playbackRequest(pressed({ControlKey::PauseResume}), 12.0f, true, 60.0f).paused);
  // Two presses in one frame cancel out.
  EXPECT_FALSE(playbackRequest(pressed({ControlKey::PauseResume, ControlKey::PauseResume}), 1.0f,
                               false, 60.0f)
                   .paused);
  // No keys: nothing changes.
  const PlaybackRequest none = playbackRequest(ControlPresses(), 1.0f, true, 60.0f);
  EXPECT_TRUE(none.paused);
  EXPECT_FALSE(none.seek);
}

TEST(PlaybackControls, ArrowsMoveFiveSecondsAddingUpAndClampedToTheTrack) {
  const struct {
    std::initializer_list<ControlKey> keys;
    float now;
    float expected;
  } cases[] = {
      {{ControlKey::Forward}, 12.0f, 17.0f},
      {{ControlKey::Back}, 12.0f, 7.0f},
      {{ControlKey::Forward, ControlKey::Forward, ControlKey::Forward}, 12.0f, 27.0f},
      {{ControlKey::Back}, 3.0f, 0.0f},
      {{ControlKey::Forward}, 58.0f, 60.0f},
      // Clamping happens at each press: back from the end is 5 s before it.
      {{ControlKey::Forward, ControlKey::Back}, 58.0f, 55.0f},
      {{ControlKey::Back, ControlKey::Forward}, 2.0f, 5.0f},
      {{ControlKey::ToStart}, 42.0f, 0.0f},
      {{ControlKey::ToStart, ControlKey::Forward}, 42.0f, 5.0f},
  };
  for (const auto& c : cases) {
    const PlaybackRequest request = playbackRequest(pressed(c.keys), c.now, false, 60.0f);
    EXPECT_TRUE(request.seek);
    EXPECT_EQ(request.seekTo, c.expected) << "from " << c.now;
    EXPECT_FALSE(request.paused);
  }
  // An unknown length bounds nothing but the start.
  EXPECT_EQ(playbackRequest(pressed({ControlKey::Forward}), 100.0f, false, 0.0f).seekTo, 105.0f);
}

TEST(PlaybackControls, SeekingWhilePausedStaysPaused) {
  const PlaybackRequest request =
      playbackRequest(pressed({ControlKey::Forward, ControlKey::ToStart}), 10.0f, true, 60.0f);
  EXPECT_TRUE(request.paused);
  EXPECT_TRUE(request.seek);
  EXPECT_EQ(request.seekTo, 0.0f);
}

TEST(PlaybackControls, PressesBeyondTheCapacityAreDropped) {
  ControlPresses presses;
  for (int i = 0; i < ControlPresses::kCapacity + 5; ++i)
    presses.add(ControlKey::Forward);
  EXPECT_EQ(presses.count, ControlPresses::kCapacity);
  EXPECT_EQ(playbackRequest(presses, 0.0f, false, 0.0f).seekTo,
            kSeekStepSeconds * ControlPresses::kCapacity);
}

TEST(ShowSeconds, TakesPlainNonNegativeNumbersOnly) {
  float seconds = -1.0f;
  EXPECT_TRUE(parseShowSeconds("0", seconds));
  EXPECT_EQ(seconds, 0.0f);
  EXPECT_TRUE(parseShowSeconds("48.67", seconds));
  EXPECT_FLOAT_EQ(seconds, 48.67f);
  EXPECT_TRUE(parseShowSeconds("90", seconds));
  EXPECT_EQ(seconds, 90.0f);

  for (const char* bad :
       {"", "-1", "+3", " 3", "3 ", "3s", "abc", "nan", "inf", "1e400", "1e7", "0x10"}) {
    seconds = 7.0f;
    EXPECT_FALSE(parseShowSeconds(bad, seconds)) << '"' << bad << '"';
    EXPECT_EQ(seconds, 7.0f) << "changed by \"" << bad << '"';
  }
  EXPECT_FALSE(parseShowSeconds(nullptr, seconds));
}

TEST(ShowSeconds, RefusalsNameTheRangeTakenUpToTheShowsEnd) {
  float seconds = -1.0f;
  EXPECT_EQ(readShowSeconds("?t=", "74.2", 74.25f, seconds), "");
  EXPECT_EQ(seconds, 74.2f);
  EXPECT_EQ(readShowSeconds("?t=", "0", 74.25f, seconds), "");
  EXPECT_EQ(seconds, 0.0f);

  // Past the end, or no number: the range, its end rounded down to what is
  // taken.
  seconds = 7.0f;
  EXPECT_EQ(readShowSeconds("?t=", "74.3", 74.25f, seconds),
            "?t= needs a number of seconds from 0 to 74.2 (the show's length): \"74.3\"");
  EXPECT_EQ(readShowSeconds("?at=", "Infinity", 74.25f, seconds),
            "?at= needs a number of seconds from 0 to 74.2 (the show's length): \"Infinity\"");
  EXPECT_EQ(seconds, 7.0f);

  // Of unknown length (the desktop's command line, before the music is
  // open): any time parseShowSeconds takes; past the end is the end.
  EXPECT_EQ(readShowSeconds("--start-at", "9999", 0.0f, seconds), "");
  EXPECT_EQ(seconds, 9999.0f);
  EXPECT_EQ(readShowSeconds("--start-at", "-1", 0.0f, seconds),
            "--start-at needs a number of seconds, 0 or more: \"-1\"");
  EXPECT_EQ(readShowSeconds("--start-at", nullptr, 0.0f, seconds),
            "--start-at needs a number of seconds, 0 or more");

  // What is quoted cannot garble a terminal or run on.
  EXPECT_EQ(readShowSeconds("?t=", "\x1b]0;x\x07", 0.0f, seconds),
            "?t= needs a number of seconds, 0 or more: \"?]0;x?\"");
  const std::string refusal =
      readShowSeconds("?t=", std::string(5000, '9').c_str(), 60.0f, seconds);
  EXPECT_EQ(refusal.substr(refusal.find('"')), '"' + std::string(40, '9') + "...\"");
}

} // namespace
