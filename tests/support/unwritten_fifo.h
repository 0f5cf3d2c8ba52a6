#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <fcntl.h>
#include <filesystem>
#include <mutex>
#include <stdexcept>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

// A FIFO that nobody writes to, where a data file is looked for: opening it
// for reading waits for a writer. Code that does so would hang the test, so
// once a generous deadline has passed a watchdog opens the writing end, which
// lets such an open return, and records that it had to.
class UnwrittenFifo {
public:
  explicit UnwrittenFifo(const std::filesystem::path& path) : path(path) {
    if (mkfifo(path.c_str(), 0600) != 0)
      throw std::runtime_error("mkfifo failed");
    watchdog = std::thread([this] { watch(); });
  }
  ~UnwrittenFifo() {
    {
      std::lock_guard lock(mutex);
      done = true;
    }
    woken.notify_one();
    watchdog.join();
  }
  UnwrittenFifo(const UnwrittenFifo&) = delete;
  UnwrittenFifo& operator=(const UnwrittenFifo&) = delete;

  // True when something waited on the FIFO until the watchdog came.
  bool waitedOn() const { return released; }

private:
  static constexpr std::chrono::seconds kDeadline{20};

  // After the deadline, a writer can open only while a reader has the FIFO
  // open, which is then the code under test waiting in its open.
  void watch() {
    std::unique_lock lock(mutex);
    if (woken.wait_for(lock, kDeadline, [this] { return done; }))
      return;
    while (!woken.wait_for(lock, std::chrono::milliseconds(10), [this] { return done; })) {
      const int writer = open(path.c_str(), O_WRONLY | O_NONBLOCK);
      if (writer >= 0) {
        released = true;
        close(writer);
      }
    }
  }

  std::filesystem::path path;
  std::mutex mutex;
  std::condition_variable woken;
  bool done = false;
  std::atomic<bool> released{false};
  std::thread watchdog;
};
