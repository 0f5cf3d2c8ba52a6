#pragma once

// The loaders under fuzzing take a path, so each input goes through a scratch
// file. It is unlinked at once and named by its descriptor: nothing is left
// behind however the run ends.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <unistd.h>

class ScratchFile {
public:
  ScratchFile() {
    char pattern[] = "/tmp/viriz-fuzz-XXXXXX";
    descriptor = mkstemp(pattern);
    if (descriptor < 0)
      std::abort();
    unlink(pattern);
    path = "/proc/self/fd/" + std::to_string(descriptor);
  }

  // Replaces the file's contents with the input; returns the path to open.
  const std::string& hold(const uint8_t* data, size_t size) {
    if (ftruncate(descriptor, 0) != 0 || pwrite(descriptor, data, size, 0) != ssize_t(size))
      std::abort();
    return path;
  }

private:
  int descriptor;
  std::string path;
};
