// What an archive holds, walked block by block as the demo's reader walks it,
// with what that reader leaves unchecked: the header CRCs, blocks that run
// past the end of the file, and the names as stored (NUL bytes and all). The
// tool's listing and test, and its error messages, are made from it.
#pragma once

#include "archive/archive_format.h"
#include "archive/archive_reader.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace pack {

struct ScannedEntry {
  int64_t blockStart = 0;
  int64_t dataEnd = 0; // just past its packed bytes, as its header says
  FileHeader header{};
  std::string name; // every stored byte
};

// Something wrong with one block, and where.
struct ScanProblem {
  int64_t offset;
  std::string text;
};

// Why the walk ended before the end of the file.
enum class ScanStop {
  None,
  Truncated, // a header or a block's data run past the end of the file
  Damaged,   // a header too short for what it must hold
  SubBlock,  // a sub-block, which the reader does not go past
};

struct ArchiveScan {
  int64_t size = 0; // bytes in the file
  bool solid = false;
  std::vector<ScannedEntry> entries;
  // Header CRC mismatches, unknown methods and names too long for the
  // reader, in file order.
  std::vector<ScanProblem> problems;
  ScanStop stop = ScanStop::None;
  std::string stopText; // what the stop was, with its byte offsets
};

// Walks the archive at `path`. None, with `error` set, when the file cannot
// be read, is not a regular file, or does not start as an archive.
std::optional<ArchiveScan> scanArchive(const std::string& path, std::string& error);

// The entry the reader would extract for `wanted`: the first whose name
// matches as the reader compares names. None when no entry matches.
std::optional<size_t> findEntry(const ArchiveScan& scan, const std::string& wanted);

// Why extracting or checking entry `index` failed, said as what was found
// (the unpack version, a truncation and where, whether a password was given).
std::string describeEntryFailure(const ArchiveScan& scan, size_t index, ArchiveError error,
                                 bool passwordGiven);

// A name as a terminal should show it: '/' between its parts (the reader
// takes '/' and '\' alike), UTF-8 text as it is, and every other byte (control
// bytes, NUL, bytes that are not UTF-8 text) as \xHH.
std::string printableName(std::string_view name);

// The method's name ("store" to "best"), or its byte in hex when it is unknown.
std::string methodName(uint8_t method);

bool isKnownMethod(uint8_t method);

} // namespace pack
