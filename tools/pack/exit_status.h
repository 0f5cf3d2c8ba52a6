// viriz-pack's exit statuses, also listed in its help text.
#pragma once

#include "archive/archive_reader.h"
#include "archive_scan.h"

namespace pack {

constexpr int kExitOk = 0;
constexpr int kExitFailure = 1;  // cannot open, not an archive, damaged or truncated, I/O errors
constexpr int kExitUsage = 2;    // bad command line
constexpr int kExitNotFound = 3; // no entry of that name
constexpr int kExitBadData = 4;  // CRC mismatch; for test: any problem found
constexpr int kExitUnsupported =
    5; // unpack version, method, split entry or sub-block the reader refuses

inline int exitStatusFor(ArchiveError error) {
  switch (error) {
  case ArchiveError::None:
    return kExitOk;
  case ArchiveError::NotFound:
    return kExitNotFound;
  case ArchiveError::BadData:
    return kExitBadData;
  case ArchiveError::UnsupportedVersion:
  case ArchiveError::SplitEntry:
  case ArchiveError::SubBlock:
    return kExitUnsupported;
  default:
    return kExitFailure;
  }
}

// A walk that stopped before the end: a sub-block is unsupported, a
// truncated or damaged archive a failure.
inline int exitStatusFor(ScanStop stop) {
  return stop == ScanStop::None       ? kExitOk
         : stop == ScanStop::SubBlock ? kExitUnsupported
                                      : kExitFailure;
}

} // namespace pack
