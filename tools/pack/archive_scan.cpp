#include "archive_scan.h"

#include "archive/crc32.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace pack {

namespace {

// The archive file, read at offsets.
class ArchiveFile {
public:
  explicit ArchiveFile(int descriptor) : descriptor(descriptor) {}
  ~ArchiveFile() { close(descriptor); }
  ArchiveFile(const ArchiveFile&) = delete;
  ArchiveFile& operator=(const ArchiveFile&) = delete;

  // Reads up to `count` bytes at `offset`; returns how many there were.
  size_t read(int64_t offset, uint8_t* buffer, size_t count) const {
    size_t done = 0;
    while (done < count) {
      const ssize_t got = pread(descriptor, buffer + done, count - done, off_t(offset + done));
      if (got < 0 && errno == EINTR)
        continue;
      if (got <= 0)
        break;
      done += size_t(got);
    }
    return done;
  }

private:
  int descriptor;
};

// The walk's position and findings.
struct Walk {
  const ArchiveFile& file;
  ArchiveScan& scan;
  int64_t position = 0;
};

std::string hex(uint32_t value, int digits) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%0*x", digits, value);
  return text;
}

void stop(Walk& walk, ScanStop kind, const std::string& text) {
  walk.scan.stop = kind;
  walk.scan.stopText = text;
}

void stopTruncated(Walk& walk, const std::string& what) {
  stop(walk, ScanStop::Truncated,
       "truncated at byte " + std::to_string(walk.scan.size) + ": " + what);
}

// Compares a header's CRC field with the low 16 bits of the CRC-32 of its
// first `covered` bytes after that field.
void checkHeaderCrc(Walk& walk, int64_t start, size_t covered, const std::string& what) {
  std::vector<uint8_t> bytes(covered);
  if (covered < 2 || walk.file.read(start, bytes.data(), covered) != covered)
    return;
  const uint16_t stored = loadLe16(bytes.data());
  const uint16_t computed = uint16_t(~crc32Update(0xFFFFFFFFu, bytes.data() + 2, covered - 2));
  if (stored != computed)
    walk.scan.problems.push_back({start, "header CRC mismatch at byte " + std::to_string(start) +
                                             " (" + what + "): " + hex(stored, 4) + " stored, " +
                                             hex(computed, 4) + " computed"});
}

// The bytes a block's header CRC covers: a file header's comment and the
// archive header's comment are left out, as archivers write them.
size_t crcCoveredBytes(const FileHeader& h) {
  if (h.type == kBlockFile && (h.flags & kFileHasComment))
    return kFileHeaderSize + h.nameSize;
  return h.headerSize;
}

std::string blockName(const FileHeader& h, const std::string& entryName) {
  if (h.type == kBlockFile)
    return "entry " + printableName(entryName);
  if (h.type == kBlockEnd)
    return "end of archive";
  return "block type " + hex(h.type, 2);
}

// The marker and the archive header; false when the walk ends there.
bool walkArchiveHeader(Walk& walk) {
  uint8_t bytes[kArchiveHeaderSize] = {};
  if (walk.file.read(kMarkerSize, bytes, kArchiveHeaderSize) != kArchiveHeaderSize) {
    stopTruncated(walk, "the archive header is cut short");
    return false;
  }
  const ArchiveHeader header = parseArchiveHeader(bytes);
  const int64_t end = int64_t(kMarkerSize) + header.headerSize;
  if (header.headerSize < kArchiveHeaderSize) {
    stop(walk, ScanStop::Damaged,
         "damaged archive header at byte " + std::to_string(kMarkerSize) + ": header size " +
             std::to_string(header.headerSize) + " (13 at least)");
    return false;
  }
  if (end > walk.scan.size) {
    stopTruncated(walk, "the archive header runs to byte " + std::to_string(end));
    return false;
  }
  checkHeaderCrc(walk, kMarkerSize,
                 (header.flags & kArchiveComment) ? kArchiveHeaderSize : header.headerSize,
                 "archive header");
  walk.scan.solid = (header.flags & kArchiveSolid) != 0;
  walk.position = end;
  return true;
}

// One block after the archive header; false when the walk ends at it.
bool walkBlock(Walk& walk) {
  const int64_t start = walk.position;
  const int64_t left = walk.scan.size - start;
  uint8_t bytes[kFileHeaderSize] = {};
  walk.file.read(start, bytes, size_t(std::min<int64_t>(left, kFileHeaderSize)));
  const std::string at = " at byte " + std::to_string(start);
  if (left < int64_t(kMinBlockHeaderSize)) {
    stopTruncated(walk, "the block header" + at + " is cut short");
    return false;
  }
  const FileHeader h = parseFileHeader(bytes);
  if (h.headerSize < kMinBlockHeaderSize) {
    stop(walk, ScanStop::Damaged,
         "damaged block header" + at + ": header size " + std::to_string(h.headerSize) +
             " (7 at least)");
    return false;
  }
  if (h.type == kBlockSub) {
    stop(walk, ScanStop::SubBlock, "sub-block" + at + ", which the reader does not go past");
    return false;
  }
  const bool file = h.type == kBlockFile;
  const int64_t headerEnd = start + std::max<int64_t>(h.headerSize, file ? kFileHeaderSize : 0);
  if (headerEnd > walk.scan.size) {
    stopTruncated(walk, "the header" + at + " runs to byte " + std::to_string(headerEnd));
    return false;
  }
  if (file && h.headerSize < kFileHeaderSize + h.nameSize) {
    stop(walk, ScanStop::Damaged,
         "damaged file header" + at + ": header size " + std::to_string(h.headerSize) +
             " cannot hold the 32 fixed bytes and a " + std::to_string(h.nameSize) + "-byte name");
    return false;
  }

  std::string name(h.nameSize, '\0');
  if (file)
    walk.file.read(start + kFileHeaderSize, reinterpret_cast<uint8_t*>(name.data()), name.size());
  checkHeaderCrc(walk, start, crcCoveredBytes(h), blockName(h, name));
  const int64_t next = start + h.headerSize + ((h.flags & kBlockHasData) ? h.packedSize : 0);
  if (file) {
    walk.scan.entries.push_back({start, next, h, name});
    if (!isKnownMethod(h.method))
      walk.scan.problems.push_back(
          {start, "entry " + printableName(name) + ": unknown method " + hex(h.method, 2)});
    if (name.size() > kMaxEntryNameLength)
      walk.scan.problems.push_back({start, "entry " + printableName(name) + ": a name of " +
                                               std::to_string(name.size()) +
                                               " bytes, which the reader never matches (259 "
                                               "at most)"});
  }
  if (next > walk.scan.size) {
    stopTruncated(walk, (file ? "the data of entry " + printableName(name) : "the block" + at) +
                            " run to byte " + std::to_string(next));
    return false;
  }
  walk.position = next;
  return true;
}

// How long the UTF-8 sequence at the start of `text` is, when it encodes a
// character a terminal shows as text; 0 for anything else: a malformed or
// overlong sequence, a C1 control, or a control that reorders or breaks lines.
size_t utf8TextLength(std::string_view text) {
  const unsigned char lead = static_cast<unsigned char>(text[0]);
  size_t length;
  uint32_t code;
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2;
    code = lead & 0x1F;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3;
    code = lead & 0x0F;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4;
    code = lead & 0x07;
  } else {
    return 0;
  }
  if (text.size() < length)
    return 0;
  for (size_t i = 1; i < length; ++i) {
    const unsigned char next = static_cast<unsigned char>(text[i]);
    if ((next & 0xC0) != 0x80)
      return 0;
    code = code << 6 | (next & 0x3F);
  }
  constexpr uint32_t kShortest[] = {0, 0, 0x80, 0x800, 0x10000};
  const bool malformed =
      code < kShortest[length] || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF);
  const bool control = code < 0xA0 || (code >= 0x200E && code <= 0x200F) ||
                       (code >= 0x2028 && code <= 0x202E) || (code >= 0x2066 && code <= 0x2069);
  return malformed || control ? 0 : length;
}

// The first entry from `first` to `last` that `matches`, else `last`.
template <class Predicate>
size_t firstEntry(const ArchiveScan& scan, size_t first, size_t last, Predicate matches) {
  for (size_t i = first; i < last; ++i)
    if (matches(scan.entries[i].header))
      return i;
  return last;
}

} // namespace

std::optional<ArchiveScan> scanArchive(const std::string& path, std::string& error) {
  // Without blocking: a pipe named as the archive is refused, not waited on.
  const int descriptor = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (descriptor < 0) {
    error = "cannot open " + path + ": " + std::strerror(errno);
    return std::nullopt;
  }
  const ArchiveFile file(descriptor);
  struct stat status;
  if (fstat(descriptor, &status) != 0 || !S_ISREG(status.st_mode)) {
    error = path + " is not a regular file";
    return std::nullopt;
  }
  uint8_t marker[kMarkerSize];
  if (file.read(0, marker, kMarkerSize) != kMarkerSize ||
      (std::memcmp(marker, kMarker, kMarkerSize) != 0 &&
       std::memcmp(marker, kAlternateMarker, kMarkerSize) != 0)) {
    error = path + ": not an archive (no archive marker at its start)";
    return std::nullopt;
  }
  ArchiveScan scan;
  scan.size = status.st_size;
  Walk walk{file, scan};
  if (walkArchiveHeader(walk))
    while (walk.position < scan.size && walkBlock(walk)) {
    }
  return scan;
}

std::optional<size_t> findEntry(const ArchiveScan& scan, const std::string& wanted) {
  for (size_t i = 0; i < scan.entries.size(); ++i) {
    // The reader holds at most kMaxEntryNameLength bytes of a name, up to its first NUL.
    const std::string& name = scan.entries[i].name;
    if (name.size() <= kMaxEntryNameLength && compareEntryNames(wanted.c_str(), name.c_str()) == 0)
      return i;
  }
  return std::nullopt;
}

std::string describeEntryFailure(const ArchiveScan& scan, size_t index, ArchiveError error,
                                 bool passwordGiven) {
  // In a solid archive every entry before this one is unpacked too, and may be what failed.
  const size_t first = scan.solid ? 0 : index;
  const auto entry = [&](size_t i) { return "entry " + printableName(scan.entries[i].name); };
  const FileHeader& h = scan.entries[index].header;
  switch (error) {
  case ArchiveError::BadData:
    if (!(h.flags & kFileEnciphered))
      return entry(index) + ": CRC mismatch: the data are damaged";
    return entry(index) + ": CRC mismatch: " +
           (passwordGiven ? "wrong password, or damaged data"
                          : "the entry is enciphered and no password was given (-p)");
  case ArchiveError::UnsupportedVersion: {
    const size_t culprit = firstEntry(scan, first, index, [](const FileHeader& e) {
      return e.unpackVersion < kMinUnpackVersion || e.unpackVersion > kMaxUnpackVersion;
    });
    const uint8_t version = scan.entries[culprit].header.unpackVersion;
    if (version >= kMinUnpackVersion && version < kUnpackVersion20)
      return entry(culprit) + ": unpack version " + std::to_string(version) +
             " needs the older methods, which are not supported";
    return entry(culprit) + ": unpack version " + std::to_string(version) +
           " (13 to 20 are supported)";
  }
  case ArchiveError::SplitEntry: {
    const size_t culprit = firstEntry(scan, first, index, [](const FileHeader& e) {
      return (e.flags & (kFileSplitBefore | kFileSplitAfter)) != 0;
    });
    return entry(culprit) + ": continues in another volume";
  }
  case ArchiveError::TooLarge:
    return entry(index) + ": declares " + std::to_string(h.unpackedSize) +
           " bytes unpacked, more than its " + std::to_string(h.packedSize) +
           " packed bytes can produce or over 2 GiB";
  case ArchiveError::BadHeader:
    if (scan.stop != ScanStop::None)
      return scan.stopText;
    break;
  default:
    break;
  }
  return entry(index) + ": " + describeArchiveError(error);
}

std::string printableName(std::string_view name) {
  std::string shown;
  for (size_t i = 0; i < name.size();) {
    const unsigned char c = static_cast<unsigned char>(name[i]);
    if (c == '\\' || c == '/') {
      shown += '/';
      ++i;
    } else if (c >= 0x20 && c < 0x7F) {
      shown += char(c);
      ++i;
    } else if (const size_t length = utf8TextLength(name.substr(i)); length > 0) {
      shown.append(name.substr(i, length));
      i += length;
    } else {
      char escaped[8];
      std::snprintf(escaped, sizeof escaped, "\\x%02x", c);
      shown += escaped;
      ++i;
    }
  }
  return shown;
}

bool isKnownMethod(uint8_t method) {
  return method >= kMethodStored && method <= kMethodBest;
}

std::string methodName(uint8_t method) {
  static const char* const kNames[] = {"store", "fastest", "fast", "normal", "good", "best"};
  return isKnownMethod(method) ? kNames[method - kMethodStored] : hex(method, 2);
}

} // namespace pack
