#include "audio/dsound/playback_log.h"

#include <cstdarg>

bool PlaybackLog::open(const char* path) {
  close();
  LARGE_INTEGER counterFrequency;
  QueryPerformanceFrequency(&counterFrequency);
  frequency = counterFrequency.QuadPart > 0 ? counterFrequency.QuadPart : 1;
  file = std::fopen(path, "w");
  return file != nullptr;
}

void PlaybackLog::close() {
  const std::lock_guard guard(lock);
  if (file)
    std::fclose(file);
  file = nullptr;
}

void PlaybackLog::line(const char* format, ...) {
  const std::lock_guard guard(lock);
  if (!file)
    return;
  // Read under the lock, so that the lines of all threads are in time order.
  std::fprintf(file, "%.6f ", seconds(now()));
  std::va_list arguments;
  va_start(arguments, format);
  std::vfprintf(file, format, arguments);
  va_end(arguments);
  std::fputc('\n', file);
}

std::int64_t PlaybackLog::now() {
  LARGE_INTEGER counter;
  QueryPerformanceCounter(&counter);
  return counter.QuadPart;
}

double PlaybackLog::seconds(std::int64_t counter) const {
  return static_cast<double>(counter) / static_cast<double>(frequency);
}

void WrittenCount::filledWhole() {
  written = 0;
  lastOffset = 0;
  wholeFillPending = true;
}

std::uint64_t WrittenCount::lockedAt(std::uint32_t offset) {
  std::uint32_t advance = (offset + bufferBytes - lastOffset) % bufferBytes;
  if (advance == 0 && wholeFillPending)
    advance = bufferBytes;
  wholeFillPending = false;
  written += advance;
  lastOffset = offset;
  return written;
}
