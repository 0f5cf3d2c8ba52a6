#pragma once

#include "audio/ring/pcm_ring.h"

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

// The sound device behind the test build's SoundBuffer: nothing is played, and
// the test moves the play cursor by hand, so the music player's arithmetic can
// be checked deterministically. It can also be told to refuse the device, to
// lose the buffer (locks fail) and to refuse restoring it. One process-wide
// instance, like the player; every call is safe from any thread.
class ManualDevice {
public:
  static constexpr int kFailForever = -1;

  struct Counts {
    int lockAttempts = 0;
    int unlocks = 0;
    int restores = 0;
    int plays = 0;
  };

  // Back to a present device with no buffer, the cursor at 0 and no failures.
  void reset();

  void setDeviceMissing(bool missing);
  // The next `count` locks fail (kFailForever: every lock from now on).
  void failLocks(int count);
  void setRestoreWorks(bool works);
  // What the output after the buffer holds: the device reports as heard
  // what the cursor has passed less this.
  void setOutputLatency(std::uint32_t bytes);

  void setCursor(std::uint32_t cursor);
  // Moves the cursor forward by `bytes`, round the buffer.
  void advanceCursor(std::uint32_t bytes);
  std::uint32_t cursor();

  bool bufferExists();
  bool isPlaying();
  Counts counts();
  std::vector<std::uint8_t> contents();

  // Waits until at least `attempts` locks have been attempted since reset().
  bool waitForLockAttempts(int attempts, std::chrono::milliseconds timeout);

  // Stepping: while it is on, every play cursor reading from a thread other
  // than the one that turned it on (that is, the player's worker, which reads
  // the cursor at the start of each refill) waits for the test's go-ahead.
  // Turning it off lets a waiting worker go.
  void setStepping(bool on);
  // Waits until the worker stands at the start of a refill.
  bool waitForWorkerAtRefill(std::chrono::milliseconds timeout);
  // Lets the worker run exactly `count` refills and waits until it stands at
  // the start of the next one.
  bool runRefills(int count, std::chrono::milliseconds timeout);

private:
  friend class SoundBuffer;

  std::uint32_t readCursor();

  std::mutex mutex;
  std::condition_variable changed;
  bool deviceMissing = false;
  int locksToFail = 0;
  bool restoreWorks = true;
  std::uint32_t outputLatency = 0;
  bool exists = false;
  bool playing = false;
  std::uint32_t playCursor = 0;
  std::uint64_t travelled = 0; // bytes the cursor has passed since it was positioned
  Counts counted;
  std::unique_ptr<PcmRing> ring = std::make_unique<PcmRing>();
  bool stepping = false;
  std::thread::id stepper;
  int refillsWaiting = 0;
  int refillsAllowed = 0;
};

ManualDevice& manualDevice();
