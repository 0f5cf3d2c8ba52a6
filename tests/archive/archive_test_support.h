#pragma once

#include "archive/archive_cipher.h"
#include "archive/archive_format.h"
#include "archive/crc32.h"
#include "shared_test_data.h"
#include "stream_model.h"
#include "temp_dir.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>
#include <unistd.h>
#include <vector>

namespace archive_test {

using archive_model::BitWriter;
using archive_model::Bytes;

inline const std::filesystem::path kRarData = kSharedTestData / "rar";

inline Bytes bytesOf(const std::string& text) {
  return Bytes(text.begin(), text.end());
}

inline uint32_t crcOf(const Bytes& data) {
  return ~crc32Update(0xFFFFFFFFu, data.data(), data.size());
}

// Runs the test body inside a directory and returns to the previous one.
class ChangeDir {
public:
  explicit ChangeDir(const std::filesystem::path& dir) : previous(std::filesystem::current_path()) {
    std::filesystem::current_path(dir);
  }
  ~ChangeDir() { std::filesystem::current_path(previous); }

private:
  std::filesystem::path previous;
};

// One entry for the small archives the tests build: stored unless `method` and
// `packed` say otherwise; every header field can be overridden.
struct TestEntry {
  std::string name = {};
  Bytes data = {};
  uint16_t flags = 0;
  uint8_t version = kUnpackVersion20;
  uint8_t method = kMethodStored;
  std::optional<Bytes> packed = std::nullopt; // the bytes stored instead of `data`
  std::optional<uint32_t> crc = std::nullopt; // instead of the CRC of `data`
  std::optional<uint32_t> unpackedSize = std::nullopt;
  std::optional<uint32_t> packedSize = std::nullopt;
  std::optional<uint16_t> nameSize = std::nullopt;
  Bytes afterName = {};      // header bytes after the name (comments, extra fields)
  uint8_t type = kBlockFile; // other block types carry `data` as their additional data
  std::optional<uint16_t> headerSize = std::nullopt;
  const char* password = nullptr; // enciphers the stored bytes
};

inline Bytes encipher(Bytes data, const char* password) {
  data.resize((data.size() + kCipherBlockSize - 1) / kCipherBlockSize * kCipherBlockSize, 0);
  ArchiveCipher cipher = *ArchiveCipher::fromPassword(password);
  for (size_t i = 0; i < data.size(); i += kCipherBlockSize)
    cipher.encryptBlock(data.data() + i);
  return data;
}

inline Bytes buildArchive(const std::vector<TestEntry>& entries, uint16_t archiveFlags = 0,
                          const uint8_t* marker = kMarker) {
  // The marker and archive header written in place: GCC 12 at -O3 misreads
  // an insert into the 7-byte vector as an out-of-bounds copy.
  Bytes out(kMarkerSize + kArchiveHeaderSize);
  std::copy(marker, marker + kMarkerSize, out.begin());
  encodeArchiveHeader(ArchiveHeader{0, kBlockArchive, archiveFlags, kArchiveHeaderSize, 0, 0},
                      out.data() + kMarkerSize);
  for (const TestEntry& e : entries) {
    Bytes packed = e.packed ? *e.packed : e.data;
    uint16_t flags = uint16_t(e.flags | kBlockHasData);
    if (e.password != nullptr) {
      packed = encipher(packed, e.password);
      flags |= kFileEnciphered;
    }
    FileHeader h{};
    h.type = e.type;
    h.flags = flags;
    h.headerSize =
        e.headerSize.value_or(uint16_t(kFileHeaderSize + e.name.size() + e.afterName.size()));
    h.packedSize = e.packedSize.value_or(uint32_t(packed.size()));
    h.unpackedSize = e.unpackedSize.value_or(uint32_t(e.data.size()));
    h.hostSystem = kHostWin32;
    h.fileCrc = e.crc.value_or(crcOf(e.data));
    h.unpackVersion = e.version;
    h.method = e.method;
    h.nameSize = e.nameSize.value_or(uint16_t(e.name.size()));
    uint8_t header[kFileHeaderSize];
    encodeFileHeader(h, header);
    out.insert(out.end(), header, header + kFileHeaderSize);
    out.insert(out.end(), e.name.begin(), e.name.end());
    out.insert(out.end(), e.afterName.begin(), e.afterName.end());
    out.insert(out.end(), packed.begin(), packed.end());
  }
  uint8_t end[kMinBlockHeaderSize] = {0, 0, kBlockEnd, 0, 0x40, kMinBlockHeaderSize, 0};
  out.insert(out.end(), end, end + kMinBlockHeaderSize);
  return out;
}

// A compressed stream with fixed-length codes, so that tests can write symbols
// by hand: code-length symbols 5 bits, literal/length symbols 9 bits, distance
// slots 6 bits, length slots 5 bits, audio symbols 9 bits. With equal lengths
// the canonical code of a symbol is its number.
class StreamWriter {
public:
  static constexpr uint32_t kLiteralBits = 9, kDistanceBits = 6, kLengthBits = 5, kAudioBits = 9;

  // A table set for LZ mode (previous lengths cleared).
  void lzTables() {
    bits.put(0b00, 2);
    codeLengthCodes();
    lengths(kLiteralSymbols, kLiteralBits);
    lengths(kDistanceSymbols, kDistanceBits);
    lengths(kLengthSymbols, kLengthBits);
  }
  // A table set for audio mode with `channels` channels (previous lengths cleared).
  void audioTables(uint32_t channels) {
    bits.put(0b10, 2);
    bits.put(channels - 1, 2);
    codeLengthCodes();
    lengths(channels * kAudioSymbols, kAudioBits);
  }
  void literal(uint8_t value) { bits.put(value, kLiteralBits); }
  void symbol(uint32_t value) { bits.put(value, kLiteralBits); }
  void audio(uint32_t value) { bits.put(value, kAudioBits); }
  void lengthSlot(uint32_t slot, uint32_t extra) {
    bits.put(slot, kLengthBits);
    bits.put(extra, kLengthExtraBits[slot]);
  }
  // A match: length slot and distance slot with their extra bits.
  void match(uint32_t lengthSlot, uint32_t lengthExtra, uint32_t distanceSlot,
             uint32_t distanceExtra) {
    symbol(kSymbolMatchFirst + lengthSlot);
    bits.put(lengthExtra, kLengthExtraBits[lengthSlot]);
    bits.put(distanceSlot, kDistanceBits);
    bits.put(distanceExtra, kDistanceExtraBits[distanceSlot]);
  }
  Bytes finish() { return bits.finish(); }

  BitWriter bits;

private:
  void codeLengthCodes() {
    for (uint32_t i = 0; i < kBitLengthSymbols; ++i)
      bits.put(5, 4);
  }
  void lengths(uint32_t count, uint32_t length) {
    for (uint32_t i = 0; i < count; ++i)
      bits.put(length, 5);
  }
};

} // namespace archive_test

namespace archive_test {

// Text, then a recent-distance symbol and a repeat of it before any match has
// been made, so both ask for distance 0, which is one whole window back
// (zeros at the start of a stream), then text again. The decoder once left
// those bytes as the output buffer held them when it decoded straight into it.
struct DistanceZeroEntry {
  Bytes packed;
  Bytes expected;
};

inline DistanceZeroEntry distanceZeroEntry() {
  const std::string text =
      "A stream starts with its recent distances and its last distance at 0. A recent-distance "
      "symbol sent before four matches have been made asks for a match at distance 0, which "
      "is one whole window back: zeros while less than 1 MiB has been produced. The copy "
      "must write them, whatever the output buffer held before. ";
  StreamWriter s;
  archive_model::ByteModel model;
  s.lzTables();
  for (char c : text) {
    s.literal(uint8_t(c));
    model.literal(uint8_t(c));
  }
  s.symbol(kSymbolRecentFirst); // the last distance: 0
  s.lengthSlot(27, 31);         // 224 + 2 + 31
  model.recentMatch(1, 257);
  s.symbol(kSymbolRepeatLast); // the same again
  model.repeatLast();
  for (char c : std::string("And the text goes on.\n")) {
    s.literal(uint8_t(c));
    model.literal(uint8_t(c));
  }
  return {s.finish(), model.out};
}

// An archive of that one entry, "distance0.txt": checked in as a seed of the
// archive fuzz targets (fuzz/seeds/fuzz_archive_extract/distance0.rar).
inline Bytes distanceZeroArchive() {
  const DistanceZeroEntry entry = distanceZeroEntry();
  return buildArchive({{.name = "distance0.txt",
                        .data = entry.expected,
                        .method = kMethodBest,
                        .packed = entry.packed}});
}

} // namespace archive_test
