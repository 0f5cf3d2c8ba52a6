#pragma once

#include <windows.h>

#include <cstdint>
#include <cstdio>
#include <mutex>

// A diagnostic log of the sound path, one event a line, each line starting
// with the QueryPerformanceCounter time in seconds (under Wine that is the
// host's monotonic clock, so the lines can be set beside outside
// measurements). Off unless open() is given a path; every call is then cheap
// and safe from any thread.
class PlaybackLog {
public:
  PlaybackLog() = default;
  ~PlaybackLog() { close(); }
  PlaybackLog(const PlaybackLog&) = delete;
  PlaybackLog& operator=(const PlaybackLog&) = delete;

  bool open(const char* path);
  bool isOpen() const { return file != nullptr; }
  void close();

  // printf-style; the time and the newline are added.
  void line(const char* format, ...) __attribute__((format(printf, 2, 3)));

  static std::int64_t now();
  double seconds(std::int64_t counter) const;

private:
  std::FILE* file = nullptr;
  std::mutex lock;
  std::int64_t frequency = 1;
};

// The bytes the owner has handed to the looping buffer, worked out from where
// its locks begin: every refill locks from where the last one stopped
// writing, so the distance between two lock offsets is what was written
// between them. The first lock after a whole-buffer fill that starts where
// that fill started found the buffer written all the way round.
class WrittenCount {
public:
  explicit WrittenCount(std::uint32_t bufferBytes) : bufferBytes(bufferBytes) {}

  // The whole buffer was locked from byte 0 and filled.
  void filledWhole();
  // A refill locks at `offset`; returns the bytes written before it.
  std::uint64_t lockedAt(std::uint32_t offset);
  std::uint64_t total() const { return written; }
  // A whole-buffer fill that no refill has followed yet.
  bool awaitingRefill() const { return wholeFillPending; }

private:
  std::uint32_t bufferBytes;
  std::uint64_t written = 0;
  std::uint32_t lastOffset = 0;
  bool wholeFillPending = false;
};
