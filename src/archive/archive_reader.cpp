#include "archive/archive_reader.h"

#include "archive/archive_cipher.h"
#include "archive/archive_format.h"
#include "archive/crc32.h"
#include "archive/regular_file.h"
#include "archive/unpacker.h"

#include <algorithm>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>
#include <utility>

namespace {

// A compressed stream spends at least one bit per symbol, and no symbol
// produces more than the longest match; so no entry unpacks to more than this
// many bytes per packed byte.
constexpr uint64_t kMaxBytesPerPackedByte = uint64_t(kLongestMatch) * 8;

// A compressed entry's output starts at this many times its packed size (more
// than most data compress to) and grows from there as it is produced.
constexpr uint64_t kGuessedBytesPerPackedByte = 4;

// Name comparison works on copies of at most this many bytes.
constexpr size_t kMaxComparedName = 512;

// Everything one extraction or listing works on: the open archive, the headers
// read, the wanted entry's output, the cipher and the decompressor. Each call
// owns one; ending it closes the archive, frees the window and any output not
// handed over, and wipes the password.
struct ArchiveReader {
  FILE* archive = nullptr;
  int64_t archiveSize = 0;
  char entryName[kMaxEntryNameLength + 1] = {};
  char archiveName[kMaxArchiveNameLength + 1] = {};
  char password[kMaxPasswordLength + 1] = {};
  ArchiveHeader archiveHeader = {};
  FileHeader fileHeader = {};
  char storedName[kMaxEntryNameLength + 1] = {};
  bool storedNameTooLong = false;
  int64_t blockStart = 0;
  int64_t nextBlock = 0;
  bool found = false; // the current entry is the wanted one
  UnpackOutput output{nullptr, 0, 0};
  uint32_t packedLeft = 0;
  // The entry's unpack version when its packed bytes are deciphered, else 0.
  uint8_t cipherVersion = 0;
  ArchiveCipher cipher = {};
  uint8_t* window = nullptr;
  Unpacker unpacker;
  ArchiveError error = ArchiveError::None;

  ArchiveReader() = default;
  ArchiveReader(const ArchiveReader&) = delete;
  ArchiveReader& operator=(const ArchiveReader&) = delete;
  ~ArchiveReader() {
    if (archive != nullptr)
      fclose(archive);
    free(window);
    free(output.data);
    // The password does not outlive the call.
    volatile char* secret = password;
    for (size_t i = 0; i < sizeof password; ++i)
      secret[i] = 0;
  }
};

// A new reader on the heap (its decompressor's tables and buffers take tens of
// kilobytes), or none when memory is short.
std::unique_ptr<ArchiveReader> newReader() {
  return std::unique_ptr<ArchiveReader>(new (std::nothrow) ArchiveReader);
}

bool fail(ArchiveReader& reader, ArchiveError error) {
  reader.error = error;
  return false;
}

bool seekTo(ArchiveReader& reader, int64_t position) {
  return position >= 0 && position <= LONG_MAX &&
         fseek(reader.archive, long(position), SEEK_SET) == 0;
}

// Copies a NUL-terminated string into a reader buffer; refuses one that does not fit.
template <size_t N> bool copyBounded(char (&buffer)[N], const char* text) {
  const size_t length = strnlen(text, N);
  if (length == N)
    return false;
  memcpy(buffer, text, length + 1);
  return true;
}

// Reads and checks the marker (either of the two) and the archive header.
bool isArchive(ArchiveReader& reader) {
  uint8_t marker[kMarkerSize];
  if (fread(marker, 1, kMarkerSize, reader.archive) != kMarkerSize)
    return false;
  if (memcmp(marker, kMarker, kMarkerSize) != 0 &&
      memcmp(marker, kAlternateMarker, kMarkerSize) != 0)
    return false;
  uint8_t header[kArchiveHeaderSize];
  if (fread(header, 1, kArchiveHeaderSize, reader.archive) != kArchiveHeaderSize)
    return false;
  reader.archiveHeader = parseArchiveHeader(header);
  return true;
}

// Opens the archive and leaves it positioned at its first block.
bool openArchive(ArchiveReader& reader) {
  reader.archive = openRegularFile(reader.archiveName);
  if (reader.archive == nullptr)
    return fail(reader, ArchiveError::CannotOpen);
  // The archive's length bounds every entry's packed data.
  if (fseek(reader.archive, 0, SEEK_END) != 0)
    return fail(reader, ArchiveError::CannotOpen);
  reader.archiveSize = ftell(reader.archive);
  if (reader.archiveSize < 0 || fseek(reader.archive, 0, SEEK_SET) != 0)
    return fail(reader, ArchiveError::CannotOpen);
  if (!isArchive(reader))
    return fail(reader, ArchiveError::NotAnArchive);
  // The archive header may be longer than its 13 fixed bytes (an archive comment follows).
  if (reader.archiveHeader.headerSize < kArchiveHeaderSize ||
      !seekTo(reader, int64_t(kMarkerSize) + reader.archiveHeader.headerSize))
    return fail(reader, ArchiveError::BadHeader);
  return true;
}

// Reads the next block header, skipping blocks that are neither file headers
// nor sub-blocks. Returns the bytes of the header read (fixed part plus name)
// for a file header; for a sub-block or the end of the archive the count of
// fixed bytes read (0 at the end), with the block's type left in the current
// header; a negative value for a damaged header.
int findFileHeader(ArchiveReader& reader) {
  const FileHeader previous = reader.fileHeader;
  uint8_t bytes[kFileHeaderSize];
  size_t count = 0;
  for (;;) {
    const long start = ftell(reader.archive);
    if (start < 0)
      return -1;
    reader.blockStart = start;
    count = fread(bytes, 1, kFileHeaderSize, reader.archive);
    if (count == 0) {
      // The end of the archive: nothing was met.
      reader.fileHeader = previous;
      seekTo(reader, reader.blockStart);
      return 0;
    }
    if (count < kMinBlockHeaderSize)
      return 0;
    // Fields beyond a short read are zero, not stale.
    std::fill(bytes + count, bytes + kFileHeaderSize, uint8_t(0));
    reader.fileHeader = parseFileHeader(bytes);
    const FileHeader& h = reader.fileHeader;
    if (h.headerSize < kMinBlockHeaderSize)
      return -1;
    reader.nextBlock = reader.blockStart + h.headerSize;
    if (h.flags & kBlockHasData)
      reader.nextBlock += h.packedSize;
    if (h.type == kBlockFile || h.type == kBlockSub)
      break;
    if (!seekTo(reader, reader.nextBlock))
      return -1;
  }

  const FileHeader& h = reader.fileHeader;
  if (h.type == kBlockSub)
    return int(count);
  // A file header holds its fixed part and the whole name.
  if (count < kFileHeaderSize || h.headerSize < kFileHeaderSize + h.nameSize)
    return -1;
  const size_t nameLength = std::min<size_t>(h.nameSize, kMaxEntryNameLength);
  if (fread(reader.storedName, 1, nameLength, reader.archive) != nameLength)
    return -1;
  reader.storedName[nameLength] = '\0';
  // A name cut short here matches no wanted name, which is at most as long as the buffer.
  reader.storedNameTooLong = h.nameSize > kMaxEntryNameLength;
  return int(count + nameLength);
}

// Reads up to `count` packed bytes of the current entry, deciphering them when
// the entry is enciphered; returns the bytes read.
size_t readPacked(ArchiveReader& reader, uint8_t* buffer, size_t count) {
  if (reader.archive == nullptr)
    return 0;
  count = std::min<size_t>(count, reader.packedLeft);
  const size_t read = fread(buffer, 1, count, reader.archive);
  reader.packedLeft -= uint32_t(read);
  // Only whole blocks: a block cut short by the end of the file stays as read.
  // Versions before 20 encipher differently; their bytes go on as read.
  if (reader.cipherVersion >= kUnpackVersion20)
    for (size_t i = 0; i + kCipherBlockSize <= read; i += kCipherBlockSize)
      reader.cipher.decryptBlock(buffer + i);
  return read;
}

size_t readPackedFromArchive(void* reader, uint8_t* buffer, size_t count) {
  return readPacked(*static_cast<ArchiveReader*>(reader), buffer, count);
}

// Checks that an entry can be processed and that its sizes are plausible
// before any buffer is sized by them.
bool checkEntry(ArchiveReader& reader) {
  const FileHeader& h = reader.fileHeader;
  if (h.unpackVersion < kMinUnpackVersion || h.unpackVersion > kMaxUnpackVersion)
    return fail(reader, ArchiveError::UnsupportedVersion);
  if (h.flags & (kFileSplitBefore | kFileSplitAfter))
    return fail(reader, ArchiveError::SplitEntry);
  const int64_t dataStart = reader.blockStart + h.headerSize;
  if (dataStart + int64_t(h.packedSize) > reader.archiveSize)
    return fail(reader, ArchiveError::BadHeader);
  const uint64_t maxProduced = h.method == kMethodStored
                                   ? uint64_t(h.packedSize)
                                   : uint64_t(h.packedSize) * kMaxBytesPerPackedByte;
  if (h.unpackedSize > maxProduced)
    return fail(reader, ArchiveError::TooLarge);
  if (reader.found && h.unpackedSize > uint32_t(INT32_MAX))
    return fail(reader, ArchiveError::TooLarge);
  return true;
}

// Grows the wanted entry's output to at least `needed` bytes, doubling it,
// but never past the entry's unpacked size: so memory follows what the packed
// bytes produce, not what the header declares.
bool growOutput(UnpackOutput& output, size_t needed, void* context) {
  ArchiveReader& reader = *static_cast<ArchiveReader*>(context);
  const size_t limit = reader.fileHeader.unpackedSize;
  if (needed > limit)
    return false;
  const size_t capacity = std::clamp(output.capacity * 2, needed, limit);
  uint8_t* const data = static_cast<uint8_t*>(realloc(output.data, capacity));
  if (data == nullptr)
    return fail(reader, ArchiveError::OutOfMemory);
  output.data = data;
  output.capacity = capacity;
  return true;
}

// Room for the wanted entry. A stored one gets its unpacked size (which its
// packed bytes in the file hold), rounded up to whole cipher blocks when it is
// enciphered; a compressed one a guess from its packed size, grown as it is
// produced. Not zeroed here: processing overwrites it and zeroes whatever a
// short entry left undelivered.
bool allocateOutput(ArchiveReader& reader) {
  const FileHeader& h = reader.fileHeader;
  size_t capacity = h.unpackedSize;
  if (h.method == kMethodStored && (h.flags & kFileEnciphered))
    capacity = (capacity + kCipherBlockSize - 1) / kCipherBlockSize * kCipherBlockSize;
  if (h.method != kMethodStored)
    capacity = size_t(std::min<uint64_t>(capacity, h.packedSize * kGuessedBytesPerPackedByte));
  reader.output = UnpackOutput{static_cast<uint8_t*>(malloc(std::max<size_t>(capacity, 1))), 0, 0};
  if (reader.output.data == nullptr)
    return fail(reader, ArchiveError::OutOfMemory);
  reader.output.capacity = capacity;
  if (h.method != kMethodStored) {
    reader.output.grow = growOutput;
    reader.output.growContext = &reader;
  }
  return true;
}

// Folds `count` zero bytes into a CRC register: the part of a short entry
// that was never produced, without room for it.
uint32_t crcOverZeros(uint32_t crc, uint64_t count) {
  static const uint8_t zeros[1 << 16] = {};
  for (; count > 0; count -= std::min<uint64_t>(count, sizeof zeros))
    crc = crc32Update(crc, zeros, size_t(std::min<uint64_t>(count, sizeof zeros)));
  return crc;
}

// The CRC of the wanted entry as the format defines it: over its unpacked
// size, with zeros for whatever a short entry did not deliver.
uint32_t outputCrc(const ArchiveReader& reader) {
  const uint64_t size = reader.fileHeader.unpackedSize;
  const size_t delivered = size_t(std::min<uint64_t>(reader.output.delivered, size));
  const uint32_t crc = crc32Update(0xFFFFFFFFu, reader.output.data, delivered);
  return ~crcOverZeros(crc, size - delivered);
}

// Deciphers (when keyed), copies or unpacks one entry; checks the wanted one's CRC.
bool processEntry(ArchiveReader& reader) {
  const FileHeader& h = reader.fileHeader;
  reader.cipherVersion = 0;
  if (reader.password[0] != '\0' && (h.flags & kFileEnciphered)) {
    // Every entry's key stream starts afresh from the password, which fits:
    // the reader's buffer holds no longer one.
    reader.cipherVersion = h.unpackVersion;
    reader.cipher = *ArchiveCipher::fromPassword(reader.password);
  }
  reader.packedLeft = h.packedSize;
  // The data follow the whole header, which may hold more than the name.
  if (!seekTo(reader, reader.blockStart + h.headerSize))
    return fail(reader, ArchiveError::BadHeader);

  UnpackOutput& output = reader.output;
  if (h.method == kMethodStored) {
    if (output.data != nullptr) {
      size_t wanted = h.unpackedSize;
      if (reader.cipherVersion != 0)
        wanted = std::min<size_t>(output.capacity, h.packedSize);
      const size_t read = readPacked(reader, output.data, wanted);
      output.delivered = std::min<size_t>(read, h.unpackedSize);
    }
  } else {
    UnpackOutput discarded{nullptr, 0, 0};
    reader.unpacker.unpackEntry(reader.window, (h.flags & kFileSolid) != 0, h.unpackedSize,
                                PackedSource{readPackedFromArchive, &reader},
                                output.data != nullptr ? output : discarded);
    if (reader.error == ArchiveError::OutOfMemory)
      return false;
  }

  // A short entry leaves zeros, not old heap contents, in the result.
  if (output.data != nullptr && output.delivered < output.capacity)
    memset(output.data + output.delivered, 0, output.capacity - output.delivered);
  if (output.data != nullptr && outputCrc(reader) != h.fileCrc) {
    // Versions before 20 compress and encipher differently: their entries are
    // read as if they were of version 20 and fail here, for want of the older methods.
    const bool olderMethod = h.unpackVersion < kUnpackVersion20 &&
                             (h.method != kMethodStored || (h.flags & kFileEnciphered));
    return fail(reader, olderMethod ? ArchiveError::UnsupportedVersion : ArchiveError::BadData);
  }
  return true;
}

bool wantedEntryMatches(const ArchiveReader& reader) {
  return !reader.storedNameTooLong && compareEntryNames(reader.entryName, reader.storedName) == 0;
}

// Opens the archive and allocates the decompressor's window.
bool openForUnpacking(ArchiveReader& reader) {
  if (!openArchive(reader))
    return false;
  reader.window = static_cast<uint8_t*>(calloc(kUnpackWindowSize, 1));
  if (reader.window == nullptr)
    return fail(reader, ArchiveError::OutOfMemory);
  return true;
}

// Moves on to the next entry's header: false (with the error noted) on a
// damaged header or a sub-block, and `atEnd` set when there is none.
bool nextEntry(ArchiveReader& reader, bool& atEnd) {
  const int result = findFileHeader(reader);
  if (result < 0)
    return fail(reader, ArchiveError::BadHeader);
  atEnd = result == 0;
  if (!atEnd && reader.fileHeader.type == kBlockSub)
    return fail(reader, ArchiveError::SubBlock);
  return true;
}

// Scans the blocks from the start until the wanted entry is processed. In a
// solid archive every entry before it is unpacked too (without output), to
// build up the window and tables the wanted one continues from.
bool searchEntry(ArchiveReader& reader) {
  if (!openForUnpacking(reader))
    return false;
  const bool solid = (reader.archiveHeader.flags & kArchiveSolid) != 0;

  for (;;) {
    bool atEnd = false;
    if (!nextEntry(reader, atEnd))
      return false;
    if (atEnd)
      return fail(reader, ArchiveError::NotFound);

    reader.found = wantedEntryMatches(reader);
    if (reader.found || solid) {
      if (!checkEntry(reader))
        return false;
      if (reader.found && !allocateOutput(reader))
        return false;
      if (!processEntry(reader))
        return false;
    }
    if (!seekTo(reader, reader.nextBlock))
      return fail(reader, ArchiveError::BadHeader);
    if (reader.found)
      return true;
  }
}

// Processes every entry as the wanted one, each into an output of its own
// that is checked and released before the next, and notes each one's verdict.
bool checkEntries(ArchiveReader& reader, std::vector<ArchiveError>& verdicts) {
  if (!openForUnpacking(reader))
    return false;
  const bool solid = (reader.archiveHeader.flags & kArchiveSolid) != 0;
  for (;;) {
    bool atEnd = false;
    if (!nextEntry(reader, atEnd))
      return false;
    if (atEnd)
      return true;

    reader.found = true;
    reader.error = ArchiveError::None;
    const bool sound = checkEntry(reader) && allocateOutput(reader) && processEntry(reader);
    free(std::exchange(reader.output.data, nullptr));
    verdicts.push_back(reader.error);
    // A solid stream goes on past a CRC mismatch, not past an entry it could not unpack.
    if (!sound && solid && reader.error != ArchiveError::BadData)
      return false;
    if (!seekTo(reader, reader.nextBlock))
      return fail(reader, ArchiveError::BadHeader);
  }
}

// Collects the file headers of every block up to the end of the archive.
bool listEntries(ArchiveReader& reader, std::vector<ArchiveEntryInfo>& entries) {
  if (!openArchive(reader))
    return false;
  for (;;) {
    const int result = findFileHeader(reader);
    if (result == 0)
      return true;
    if (result < 0)
      return fail(reader, ArchiveError::BadHeader);
    if (reader.fileHeader.type == kBlockSub)
      return fail(reader, ArchiveError::SubBlock);
    const FileHeader& h = reader.fileHeader;
    entries.push_back(ArchiveEntryInfo{reader.storedName, h.packedSize, h.unpackedSize, h.fileCrc,
                                       h.hostSystem, h.unpackVersion, h.method, h.flags,
                                       h.attributes});
    if (!seekTo(reader, reader.nextBlock))
      return fail(reader, ArchiveError::BadHeader);
  }
}

char upperCaseForName(unsigned char c) {
  if (c == '\\' || c == '/')
    return '_';
  if (c >= 'a' && c <= 'z')
    return char(c - 'a' + 'A');
  return char(c);
}

} // namespace

const char* describeArchiveError(ArchiveError error) {
  switch (error) {
  case ArchiveError::None:
    return "no error";
  case ArchiveError::CannotOpen:
    return "cannot open the archive";
  case ArchiveError::NotAnArchive:
    return "not an archive";
  case ArchiveError::NotFound:
    return "entry not found";
  case ArchiveError::UnsupportedVersion:
    return "unsupported unpack version";
  case ArchiveError::SplitEntry:
    return "entry continues in another volume";
  case ArchiveError::BadData:
    return "CRC mismatch (damaged data or wrong password)";
  case ArchiveError::TooLarge:
    return "entry too large";
  case ArchiveError::OutOfMemory:
    return "out of memory";
  case ArchiveError::BadHeader:
    return "damaged block header or name too long";
  case ArchiveError::SubBlock:
    return "unsupported sub-block";
  }
  return "unknown error";
}

ExtractedEntry extractArchiveEntry(const char* entryName, const char* archiveName,
                                   const char* password) {
  ExtractedEntry entry;
  if (entryName == nullptr || archiveName == nullptr) {
    entry.error = ArchiveError::BadHeader;
    return entry;
  }
  const std::unique_ptr<ArchiveReader> reader = newReader();
  if (reader == nullptr) {
    entry.error = ArchiveError::OutOfMemory;
    return entry;
  }
  if (!copyBounded(reader->entryName, entryName) ||
      !copyBounded(reader->archiveName, archiveName) ||
      !copyBounded(reader->password, password != nullptr ? password : "")) {
    entry.error = ArchiveError::BadHeader;
    return entry;
  }
  if (!searchEntry(*reader)) {
    entry.error = reader->error;
    return entry;
  }
  entry.data.reset(std::exchange(reader->output.data, nullptr));
  entry.size = int32_t(reader->output.delivered);
  return entry;
}

ArchiveError listArchiveEntries(const char* archiveName, std::vector<ArchiveEntryInfo>& entries) {
  if (archiveName == nullptr)
    return ArchiveError::BadHeader;
  const std::unique_ptr<ArchiveReader> reader = newReader();
  if (reader == nullptr)
    return ArchiveError::OutOfMemory;
  if (!copyBounded(reader->archiveName, archiveName))
    return ArchiveError::BadHeader;
  return listEntries(*reader, entries) ? ArchiveError::None : reader->error;
}

ArchiveError checkArchiveEntries(const char* archiveName, const char* password,
                                 std::vector<ArchiveError>& verdicts) {
  if (archiveName == nullptr)
    return ArchiveError::BadHeader;
  const std::unique_ptr<ArchiveReader> reader = newReader();
  if (reader == nullptr)
    return ArchiveError::OutOfMemory;
  if (!copyBounded(reader->archiveName, archiveName) ||
      !copyBounded(reader->password, password != nullptr ? password : ""))
    return ArchiveError::BadHeader;
  return checkEntries(*reader, verdicts) ? ArchiveError::None : reader->error;
}

int compareEntryNames(const char* wanted, const char* stored) {
  if (strnlen(wanted, kMaxComparedName + 1) > kMaxComparedName ||
      strnlen(stored, kMaxComparedName + 1) > kMaxComparedName)
    return 1;
  for (size_t i = 0;; ++i) {
    const unsigned char a = upperCaseForName(static_cast<unsigned char>(wanted[i]));
    const unsigned char b = upperCaseForName(static_cast<unsigned char>(stored[i]));
    if (a != b)
      return a < b ? -1 : 1;
    if (a == 0)
      return 0;
  }
}
