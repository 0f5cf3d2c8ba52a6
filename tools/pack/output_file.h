// Where a command's output file goes. A regular file, a new one or a symbolic
// link is written as a temporary beside it, which replaces it (the link
// itself, never its target) only once complete: a failure leaves what was
// there as it was, and no temporary behind. A character device (/dev/null) is
// written in place and never removed. Anything else is refused.
#pragma once

#include <cstdio>
#include <memory>
#include <string>

namespace pack {

class OutputFile {
public:
  // Opens `path` for writing; null, with `error` set, when it cannot be.
  static std::unique_ptr<OutputFile> open(const std::string& path, std::string& error);

  // Without a successful commit: closes and removes the temporary.
  ~OutputFile();
  OutputFile(const OutputFile&) = delete;
  OutputFile& operator=(const OutputFile&) = delete;

  std::FILE* stream() const { return file; }

  // Flushes and closes, and moves the temporary into place. False, with
  // errno set, when any write or the move failed.
  bool commit();

private:
  OutputFile(std::FILE* file, std::string path, std::string temporary);

  std::FILE* file;
  std::string path;
  std::string temporary; // empty when writing in place
};

} // namespace pack
