#include "archive/regular_file.h"

#include <sys/stat.h>
#ifndef _WIN32
#include <fcntl.h>
#include <unistd.h>
#endif

namespace {

bool isRegular(int descriptor) {
  struct stat status;
  return fstat(descriptor, &status) == 0 && S_ISREG(status.st_mode);
}

} // namespace

#ifndef _WIN32

// Opened without waiting and checked before a stream is made of it. Reads of
// a regular file never wait, so the non-blocking flag changes nothing after.
FILE* openRegularFile(const char* path) {
  const int descriptor = open(path, O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (descriptor < 0)
    return nullptr;
  FILE* file = isRegular(descriptor) ? fdopen(descriptor, "rb") : nullptr;
  if (file == nullptr)
    close(descriptor);
  return file;
}

#else

// Windows has no FIFOs among its files: opening never waits, and the check
// refuses devices.
FILE* openRegularFile(const char* path) {
  FILE* file = fopen(path, "rb");
  if (file != nullptr && !isRegular(_fileno(file))) {
    fclose(file);
    return nullptr;
  }
  return file;
}

#endif
