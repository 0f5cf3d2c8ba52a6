// The play cursor of a device that moves it in 10 ms steps, read once a
// millisecond: the position moves every reading, never ahead of the device's
// cursor, never back; a stall stops it at the device's cursor; a long step
// after a stall is taken at once beyond what is spread.
#include "audio/sound_buffer.h"
#include "audio/stepped_cursor.h"

#include <gtest/gtest.h>

namespace {

using namespace std::chrono_literals;
using Clock = SteppedCursor::Clock;

constexpr std::uint32_t kStepBytes = 441 * kBytesPerFrame; // 10 ms
constexpr std::uint32_t kBytesPerMs = 44 * kBytesPerFrame; // within a frame of 1 ms

// Reads `cursor` once a millisecond for `ms` milliseconds, the device
// stepping by `deviceStep` bytes every 10 ms, and checks each position
// against the device's cursor and the one before.
struct SteppingDevice {
  SteppedCursor cursor;
  Clock::time_point now = Clock::now();
  std::uint32_t device = 0;
  std::uint32_t position = 0;
  std::uint32_t largestMove = 0;

  void run(int ms, std::uint32_t deviceStep) {
    for (int i = 0; i < ms; ++i) {
      if (i % 10 == 0)
        device = (device + deviceStep) % kSoundBufferBytes;
      now += 1ms;
      const std::uint32_t next = cursor.read(device, now);
      ASSERT_EQ(next % kBytesPerFrame, 0u);
      ASSERT_LE(bytesAheadInBuffer(next, device), 2 * kStepBytes)
          << "far behind the device at " << i;
      ASSERT_LT(bytesAheadInBuffer(position, next), kSoundBufferBytes / 2) << "went back at " << i;
      largestMove = std::max(largestMove, bytesAheadInBuffer(position, next));
      position = next;
    }
  }
};

TEST(SteppedCursorTest, StepsAreSpreadOverTimeAndNeverRunAheadOfTheDevice) {
  SteppingDevice device;
  EXPECT_EQ(device.cursor.read(1000 * kBytesPerFrame, device.now), 1000 * kBytesPerFrame)
      << "the first reading is taken as it is";
  device.device = device.position = 1000 * kBytesPerFrame;
  // Two seconds: round the end of the one-second buffer twice.
  device.run(2000, kStepBytes);
  EXPECT_LE(device.largestMove, kBytesPerMs + kBytesPerFrame);
  EXPECT_LE(bytesAheadInBuffer(device.position, device.device), kStepBytes);
}

TEST(SteppedCursorTest, AStallStopsAtTheDeviceAndALongStepIsTakenBeyondTheSpread) {
  SteppingDevice device;
  device.cursor.read(0, device.now);
  device.run(100, kStepBytes);
  // The device stands still for 300 ms: the position stops at its cursor.
  device.run(300, 0);
  EXPECT_EQ(device.position, device.device);
  // It catches up 300 ms at once: all but the spread part is taken at once,
  // the rest over the next 20 ms.
  device.device = (device.device + 30 * kStepBytes) % kSoundBufferBytes;
  device.now += 1ms;
  device.position = device.cursor.read(device.device, device.now);
  EXPECT_EQ(bytesAheadInBuffer(device.position, device.device), SteppedCursor::kLongestSpreadBytes);
  device.run(100, kStepBytes);
  EXPECT_LE(device.largestMove, 31 * kStepBytes);
}

TEST(SteppedCursorTest, ACursorMovedBackIsTakenAsItIs) {
  SteppingDevice device;
  device.cursor.read(0, device.now);
  device.run(300, kStepBytes);
  EXPECT_EQ(device.cursor.read(0, device.now + 1ms), 0u);
  // After a reset even a cursor just ahead is taken as it is.
  device.cursor.reset();
  EXPECT_EQ(device.cursor.read(kStepBytes, device.now + 2ms), kStepBytes);
}

} // namespace
