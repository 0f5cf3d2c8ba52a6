#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

// Extracts one named entry of an archive into a new malloc buffer, or lists
// the entries. Every call works on reader state of its own and keeps nothing
// afterwards.

// Why an extraction or listing failed.
enum class ArchiveError {
  None,
  CannotOpen,         // the archive does not open as a regular file
  NotAnArchive,       // no marker, or the archive header is cut short
  NotFound,           // the archive ends without the wanted entry
  UnsupportedVersion, // unpack version outside 13 to 20
  SplitEntry,         // the entry continues in another volume
  BadData,            // CRC mismatch: damaged data or wrong password
  TooLarge,           // the entry claims more bytes than it could hold or produce
  OutOfMemory,        // a buffer could not be allocated
  BadHeader,          // a block header is damaged or cut short, or an argument is too long
  SubBlock,           // a sub-block was met while scanning
};

// A short English description of an error, e.g. "CRC mismatch (damaged data or wrong password)".
const char* describeArchiveError(ArchiveError error);

// A buffer from malloc, released with free: a DataFile takes it over as it is.
struct FreeBytes {
  void operator()(uint8_t* bytes) const { std::free(bytes); }
};
using MallocBytes = std::unique_ptr<uint8_t[], FreeBytes>;

// An extracted entry: its bytes, or null data, size 0 and why not.
struct ExtractedEntry {
  MallocBytes data; // the entry's bytes; not null after a success, even for an empty entry
  int32_t size = 0; // bytes delivered
  ArchiveError error = ArchiveError::None;

  bool ok() const { return error == ArchiveError::None; }
};

// Extracts the entry `entryName` of `archiveName`, deciphering with `password`
// (null or empty: none).
ExtractedEntry extractArchiveEntry(const char* entryName, const char* archiveName,
                                   const char* password);

// One entry of an archive as its file header describes it.
struct ArchiveEntryInfo {
  std::string name;
  uint32_t packedSize;
  uint32_t unpackedSize;
  uint32_t crc;
  uint8_t hostSystem;
  uint8_t unpackVersion;
  uint8_t method;
  uint16_t flags;
  uint32_t attributes;
};

// Lists the file entries of an archive, scanning its blocks as the extraction
// does. Returns why the scan failed (None when it did not); the entries read
// before a failure stay in `entries`.
ArchiveError listArchiveEntries(const char* archiveName, std::vector<ArchiveEntryInfo>& entries);

// Checks every file entry in archive order as extracting it would (deciphered
// with `password`, unpacked with a solid archive's stream carried from entry
// to entry, its CRC compared), holding one entry's output at a time. Each
// entry's verdict goes to `verdicts` (None for a sound one). Returns why the
// scan stopped before the archive's end (None when it did not): a damaged
// header, a sub-block, or, in a solid archive, the verdict of an entry its
// stream cannot go past.
ArchiveError checkArchiveEntries(const char* archiveName, const char* password,
                                 std::vector<ArchiveError>& verdicts);

// Compares entry names ignoring case and treating '/' and '\' alike:
// 0 when they match, else -1 or 1. Names longer than 512 bytes never match.
int compareEntryNames(const char* wanted, const char* stored);
