#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// Extracts one named entry of an archive into a new malloc buffer, or lists
// the entries. Every call works on reader state of its own; only the reason of
// the last failure is kept between calls, so use the reader from one thread.

// Why the last extraction or listing failed.
enum class ArchiveError {
  None,
  CannotOpen,         // the archive file cannot be opened
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

// The reason of the last failure of extractArchiveEntry or listArchiveEntries
// (None after a success).
ArchiveError lastArchiveError();

// A short English description of an error, e.g. "CRC mismatch (damaged data or wrong password)".
const char* describeArchiveError(ArchiveError error);

// Extracts the entry `entryName` of `archiveName`, deciphering with `password`
// (null or empty: none). Returns 1 and a malloc buffer of the entry's bytes
// (owned by the caller, released with free) and its size; 0 with null and 0 on failure.
int extractArchiveEntry(uint8_t** outData, int32_t* outSize, const char* entryName,
                        const char* archiveName, const char* password);

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
// does. Returns false (with lastArchiveError set) when the scan fails; the
// entries read before the failure stay in `entries`.
bool listArchiveEntries(const char* archiveName, std::vector<ArchiveEntryInfo>& entries);

// Compares entry names ignoring case and treating '/' and '\' alike:
// 0 when they match, else -1 or 1. Names longer than 512 bytes never match.
int compareEntryNames(const char* wanted, const char* stored);
