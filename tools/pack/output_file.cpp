#include "output_file.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

namespace pack {

namespace {

// The permissions of the file written: those of the regular file it
// replaces, else what a new file gets under the umask.
mode_t permissionsFor(const struct stat* replaced) {
  if (replaced != nullptr && S_ISREG(replaced->st_mode))
    return replaced->st_mode & 07777;
  const mode_t mask = umask(0);
  umask(mask);
  return 0666 & ~mask;
}

// A new file beside `path`, created exclusively (a link planted under its
// name is never followed); its name goes to `temporary`.
int createTemporary(const std::string& path, const struct stat* replaced, std::string& temporary) {
  temporary = path + ".partial-XXXXXX";
  const int descriptor = mkostemp(temporary.data(), O_CLOEXEC);
  if (descriptor >= 0 && fchmod(descriptor, permissionsFor(replaced)) != 0) {
    const int error = errno;
    close(descriptor);
    unlink(temporary.c_str());
    errno = error;
    return -1;
  }
  return descriptor;
}

} // namespace

std::unique_ptr<OutputFile> OutputFile::open(const std::string& path, std::string& error) {
  struct stat status;
  const bool exists = lstat(path.c_str(), &status) == 0;
  const bool inPlace = exists && S_ISCHR(status.st_mode);
  if (exists && !inPlace && !S_ISREG(status.st_mode) && !S_ISLNK(status.st_mode)) {
    error = "cannot write " + path + ": " +
            (S_ISDIR(status.st_mode) ? "it is a directory" : "it is not a regular file");
    return nullptr;
  }
  std::string temporary;
  const int descriptor = inPlace ? ::open(path.c_str(), O_WRONLY | O_NOFOLLOW | O_CLOEXEC)
                                 : createTemporary(path, exists ? &status : nullptr, temporary);
  std::FILE* file = descriptor >= 0 ? fdopen(descriptor, "wb") : nullptr;
  if (file == nullptr) {
    error = "cannot write " + path + ": " + std::strerror(errno);
    if (descriptor >= 0)
      close(descriptor);
    if (!temporary.empty())
      unlink(temporary.c_str());
    return nullptr;
  }
  return std::unique_ptr<OutputFile>(new OutputFile(file, path, temporary));
}

OutputFile::OutputFile(std::FILE* file, std::string path, std::string temporary)
    : file(file), path(std::move(path)), temporary(std::move(temporary)) {}

OutputFile::~OutputFile() {
  if (file != nullptr)
    std::fclose(file);
  if (!temporary.empty())
    unlink(temporary.c_str());
}

bool OutputFile::commit() {
  const bool flushed = std::fflush(file) == 0 && !std::ferror(file);
  const int flushError = errno;
  const bool closed = std::fclose(file) == 0;
  file = nullptr;
  if (!flushed)
    errno = flushError;
  if (!flushed || !closed)
    return false;
  if (!temporary.empty() && std::rename(temporary.c_str(), path.c_str()) != 0)
    return false;
  temporary.clear();
  return true;
}

} // namespace pack
