#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// Extracts one named entry of an archive into a new malloc buffer. The reader
// keeps one process-wide state and is not reentrant: call it from one thread.

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

// --- Steps of the scan, working on the reader's open archive. ---

// Reads and checks the marker and the archive header of the open archive.
bool isArchive();

// Reads the next block header of the open archive, skipping blocks that are
// neither file headers nor sub-blocks. Returns the bytes of the header read
// (fixed part plus name) for a file header; for a sub-block or the end of the
// archive the count of fixed bytes read (0 at the end), with the block's type
// left in the current header; a negative value for a damaged header.
int findFileHeader();

// Reads up to `count` packed bytes of the current entry, deciphering them when
// the entry is enciphered; returns the bytes read.
size_t readPacked(uint8_t* buffer, size_t count);
