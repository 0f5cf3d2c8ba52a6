#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>

// On-disk facts of the archive format (version 2.0), shared by the reader, the
// decompressor and the writer. All multi-byte fields are little-endian.

// --- Markers: the first 7 bytes of an archive are one of these. ---
inline constexpr size_t kMarkerSize = 7;
inline constexpr uint8_t kMarker[kMarkerSize] = {0x52, 0x61, 0x72, 0x21, 0x1A, 0x07, 0x00};
inline constexpr uint8_t kAlternateMarker[kMarkerSize] = {'V', 'a', 'k', 'r', 'i', 'p', '!'};

// --- Block types (byte 2 of every block header). ---
inline constexpr uint8_t kBlockMarker = 0x72;
inline constexpr uint8_t kBlockArchive = 0x73;
inline constexpr uint8_t kBlockFile = 0x74;
inline constexpr uint8_t kBlockComment = 0x75;
inline constexpr uint8_t kBlockSub = 0x77;
inline constexpr uint8_t kBlockEnd = 0x7B;

// --- Archive header (13 bytes after the marker). ---
inline constexpr size_t kArchiveHeaderSize = 13;
inline constexpr uint16_t kArchiveVolume = 0x0001;
inline constexpr uint16_t kArchiveComment = 0x0002;
inline constexpr uint16_t kArchiveLocked = 0x0004;
inline constexpr uint16_t kArchiveSolid = 0x0008;

// --- File header (32 bytes, then the name). ---
inline constexpr size_t kFileHeaderSize = 32;
inline constexpr size_t kMinBlockHeaderSize = 7;
inline constexpr uint16_t kFileSplitBefore = 0x0001; // continued from the previous volume
inline constexpr uint16_t kFileSplitAfter = 0x0002;  // continued in the next volume
inline constexpr uint16_t kFileEnciphered = 0x0004;
inline constexpr uint16_t kFileHasComment = 0x0008;
inline constexpr uint16_t kFileSolid = 0x0010; // continues the previous entry's stream
inline constexpr uint16_t kFileDictionaryMask = 0x00E0;
inline constexpr uint16_t kFileDictionaryShift = 5; // size = 64 KiB << ((flags & mask) >> shift)
inline constexpr uint16_t kFileDirectory = 0x00E0;  // all dictionary bits set
// The dictionary bits of a 1 MiB window, the one window of the version-2.0 method.
inline constexpr uint16_t kFileDictionary1MiB = 4 << kFileDictionaryShift;
// Every block: the header is followed by an additional size (the packed-size field).
inline constexpr uint16_t kBlockHasData = 0x8000;
// Every block: readers that do not know the block's type skip it.
inline constexpr uint16_t kBlockSkipIfUnknown = 0x4000;

inline constexpr uint8_t kMethodStored = 0x30; // '0'; '1' to '5' are compressed
inline constexpr uint8_t kMethodFastest = 0x31;
inline constexpr uint8_t kMethodBest = 0x35;
inline constexpr uint8_t kMinUnpackVersion = 13;
inline constexpr uint8_t kMaxUnpackVersion = 20;
inline constexpr uint8_t kUnpackVersion20 = 20;

inline constexpr uint8_t kHostMsDos = 0;
inline constexpr uint8_t kHostOs2 = 1;
inline constexpr uint8_t kHostWin32 = 2;
inline constexpr uint8_t kHostUnix = 3;

// Longest names and password the reader accepts (the sizes of its buffers).
inline constexpr size_t kMaxEntryNameLength = 259;
inline constexpr size_t kMaxArchiveNameLength = 255;

// The archive header as read: 13 bytes.
struct ArchiveHeader {
  uint16_t headerCrc;
  uint8_t type;
  uint16_t flags;
  uint16_t headerSize;
  uint16_t reserved1;
  uint32_t reserved2;
};

// The file header as read: 32 bytes; every block is first read with this layout.
struct FileHeader {
  uint16_t headerCrc; // low 16 bits of the CRC-32 of the header bytes after this field
  uint8_t type;
  uint16_t flags;
  uint16_t headerSize;
  uint32_t packedSize; // for blocks with kBlockHasData: the additional size
  uint32_t unpackedSize;
  uint8_t hostSystem;
  uint32_t fileCrc;
  uint32_t time; // MS-DOS date and time
  uint8_t unpackVersion;
  uint8_t method;
  uint16_t nameSize;
  uint32_t attributes;
};

inline uint16_t loadLe16(const uint8_t* p) {
  return uint16_t(p[0] | p[1] << 8);
}
inline uint32_t loadLe32(const uint8_t* p) {
  return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}
inline void storeLe16(uint8_t* p, uint16_t v) {
  p[0] = uint8_t(v);
  p[1] = uint8_t(v >> 8);
}
inline void storeLe32(uint8_t* p, uint32_t v) {
  for (int i = 0; i < 4; ++i)
    p[i] = uint8_t(v >> (8 * i));
}

inline ArchiveHeader parseArchiveHeader(const uint8_t* b) {
  return ArchiveHeader{loadLe16(b),     b[2],           loadLe16(b + 3), loadLe16(b + 5),
                       loadLe16(b + 7), loadLe32(b + 9)};
}

inline void encodeArchiveHeader(const ArchiveHeader& h, uint8_t* b) {
  storeLe16(b, h.headerCrc);
  b[2] = h.type;
  storeLe16(b + 3, h.flags);
  storeLe16(b + 5, h.headerSize);
  storeLe16(b + 7, h.reserved1);
  storeLe32(b + 9, h.reserved2);
}

inline FileHeader parseFileHeader(const uint8_t* b) {
  FileHeader h;
  h.headerCrc = loadLe16(b);
  h.type = b[2];
  h.flags = loadLe16(b + 3);
  h.headerSize = loadLe16(b + 5);
  h.packedSize = loadLe32(b + 7);
  h.unpackedSize = loadLe32(b + 11);
  h.hostSystem = b[15];
  h.fileCrc = loadLe32(b + 16);
  h.time = loadLe32(b + 20);
  h.unpackVersion = b[24];
  h.method = b[25];
  h.nameSize = loadLe16(b + 26);
  h.attributes = loadLe32(b + 28);
  return h;
}

inline void encodeFileHeader(const FileHeader& h, uint8_t* b) {
  storeLe16(b, h.headerCrc);
  b[2] = h.type;
  storeLe16(b + 3, h.flags);
  storeLe16(b + 5, h.headerSize);
  storeLe32(b + 7, h.packedSize);
  storeLe32(b + 11, h.unpackedSize);
  b[15] = h.hostSystem;
  storeLe32(b + 16, h.fileCrc);
  storeLe32(b + 20, h.time);
  b[24] = h.unpackVersion;
  b[25] = h.method;
  storeLe16(b + 26, h.nameSize);
  storeLe32(b + 28, h.attributes);
}

// --- The compressed stream (version 2.0 method). ---
inline constexpr uint32_t kWindowSize = 0x100000; // 1 MiB circular window
inline constexpr uint32_t kWindowMask = kWindowSize - 1;

inline constexpr uint32_t kLiteralSymbols = 298;  // literal/length alphabet
inline constexpr uint32_t kDistanceSymbols = 48;  // distance slots
inline constexpr uint32_t kLengthSymbols = 28;    // lengths after a recent-distance symbol
inline constexpr uint32_t kBitLengthSymbols = 19; // codes of the code lengths
inline constexpr uint32_t kAudioSymbols = 257;    // per channel: 256 deltas + table switch
inline constexpr uint32_t kMaxAudioChannels = 4;
inline constexpr uint32_t kLzTableLengths = kLiteralSymbols + kDistanceSymbols + kLengthSymbols;
inline constexpr uint32_t kMaxTableLengths = kMaxAudioChannels * kAudioSymbols; // 1028
inline constexpr uint32_t kMaxCodeLength = 15;
// Where each table's code lengths sit among the lengths of an LZ table set.
inline constexpr uint32_t kLiteralTableOffset = 0;
inline constexpr uint32_t kDistanceTableOffset = kLiteralSymbols;
inline constexpr uint32_t kLengthTableOffset = kLiteralSymbols + kDistanceSymbols;

// Literal/length alphabet.
inline constexpr uint32_t kSymbolRepeatLast = 256;     // repeat the previous match
inline constexpr uint32_t kSymbolRecentFirst = 257;    // 257-260: a recent distance
inline constexpr uint32_t kSymbolShortFirst = 261;     // 261-268: short match of length 2
inline constexpr uint32_t kSymbolNewTables = 269;      // read new code tables
inline constexpr uint32_t kSymbolMatchFirst = 270;     // 270-297: length slot of a match
inline constexpr uint32_t kAudioSymbolNewTables = 256; // in an audio table
// Code-length alphabet: 0-15 add to the previous length, then these runs.
inline constexpr uint32_t kBitLengthRepeat = 16;    // 3 + 2 bits copies of the previous length
inline constexpr uint32_t kBitLengthZeros = 17;     // 3 + 3 bits zeros
inline constexpr uint32_t kBitLengthLongZeros = 18; // 11 + 7 bits zeros

inline constexpr uint8_t kLengthBase[kLengthSymbols] = {0,  1,  2,  3,   4,   5,   6,   7,  8,  10,
                                                        12, 14, 16, 20,  24,  28,  32,  40, 48, 56,
                                                        64, 80, 96, 112, 128, 160, 192, 224};
inline constexpr uint8_t kLengthExtraBits[kLengthSymbols] = {
    0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2, 2, 3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5};
inline constexpr uint32_t kDistanceBase[kDistanceSymbols] = {
    0,      1,      2,      3,      4,      6,      8,      12,     16,     24,     32,     48,
    64,     96,     128,    192,    256,    384,    512,    768,    1024,   1536,   2048,   3072,
    4096,   6144,   8192,   12288,  16384,  24576,  32768,  49152,  65536,  98304,  131072, 196608,
    262144, 327680, 393216, 458752, 524288, 589824, 655360, 720896, 786432, 851968, 917504, 983040};
inline constexpr uint8_t kDistanceExtraBits[kDistanceSymbols] = {
    0,  0,  0,  0,  1,  1,  2,  2,  3,  3,  4,  4,  5,  5,  6,  6,  7,  7,  8,  8,  9,  9,  10, 10,
    11, 11, 12, 12, 13, 13, 14, 14, 15, 15, 16, 16, 16, 16, 16, 16, 16, 16, 16, 16, 16, 16, 16, 16};
inline constexpr uint8_t kShortDistanceBase[8] = {0, 4, 8, 16, 32, 64, 128, 192};
inline constexpr uint8_t kShortDistanceExtraBits[8] = {2, 2, 3, 4, 5, 6, 6, 6};

// Matches at these distances or more are one byte longer than their coded length.
inline constexpr uint32_t kLongDistance1 = 0x2000;
inline constexpr uint32_t kLongDistance2 = 0x40000;
// After a recent-distance symbol, this distance adds one more byte as well.
inline constexpr uint32_t kRecentDistanceBonus = 0x101;

// A match symbol's length slot counts from 3, a recent-distance symbol's from
// 2; the distance adds a byte at each of kLongDistance1 and kLongDistance2,
// and after a recent-distance symbol one more at kRecentDistanceBonus.
inline constexpr uint32_t kMatchLengthStart = 3;
inline constexpr uint32_t kRecentLengthStart = 2;
inline constexpr uint32_t kLongDistanceBytes = 2;
// The longest match, the most bytes one symbol produces (a repeat copies a
// match): the last length slot with all its extra bits set, and every bonus.
inline constexpr uint32_t kLongestLengthSlot =
    kLengthBase[kLengthSymbols - 1] + (1u << kLengthExtraBits[kLengthSymbols - 1]) - 1;
inline constexpr uint32_t kLongestMatch =
    kLongestLengthSlot + kLongDistanceBytes + std::max(kMatchLengthStart, kRecentLengthStart + 1);
