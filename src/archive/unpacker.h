#pragma once

#include "archive/archive_format.h"
#include "archive/audio_predictor.h"

#include <cstddef>
#include <cstdint>

// Decoder of the version-2.0 compressed stream: LZ77 over the 1 MiB circular
// window with canonical Huffman codes, plus an audio mode that predicts bytes
// on up to four interleaved channels.

// Where the decoder pulls packed bytes from (the archive reader's readPacked,
// or memory in tests): returns the bytes copied, 0 at the end of the entry.
struct PackedSource {
  size_t (*read)(void* context, uint8_t* buffer, size_t count);
  void* context;
};

// Where the decoded bytes of the wanted entry go. A null `data` discards them
// (earlier entries of a solid archive only build up the window and tables).
struct UnpackOutput {
  uint8_t* data;
  size_t capacity;
  size_t delivered;
};

// Codes of one alphabet. The canonical form: limit[L] is the first left-aligned
// 16-bit code value beyond the codes of length L, position[L] the index in
// `symbols` of the first symbol of length L. `fast` resolves codes of up to
// kFastBits bits in one lookup: (symbol << 4) | length, 0 = walk the limits.
inline constexpr uint32_t kFastBits = 10;
inline constexpr uint32_t kMaxAlphabet = kLiteralSymbols;

struct DecodeTable {
  uint32_t symbolCount;
  uint32_t limit[16];
  uint32_t position[16];
  uint16_t symbols[kMaxAlphabet];
  uint16_t fast[1u << kFastBits];
};

// Builds the decoding structures of an alphabet of `count` symbols from its code lengths.
void makeDecodeTable(const uint8_t* lengths, DecodeTable& table, uint32_t count);

// Reads the packed input most significant bit first through a 64-bit bit
// buffer: `bits` holds the next bits left-aligned, `count` of them valid. A
// refill tops it up to at least 56 bits with one unaligned load, enough for the
// longest match (15 + 5 + 15 + 16 bits). The decoder's hot loop works on a local
// copy, so that stores into the window do not make the compiler reload it.
struct BitInput {
  const uint8_t* buffer = nullptr; // the input buffer the positions count from
  const uint8_t* next = nullptr;   // the first byte not yet loaded into `bits`
  uint64_t bits = 0;
  uint32_t count = 0;

  // Starts reading at a bit position of `buffer`.
  void start(const uint8_t* inputBuffer, uint32_t bitPosition);
  // Bits consumed since the start of the buffer.
  uint32_t bitPosition() const { return uint32_t(next - buffer) * 8 - count; }
  uint32_t bytePosition() const { return bitPosition() >> 3; }

  void refill();
  uint32_t peek16() const { return uint32_t(bits >> 48); }
  void skip(uint32_t n);
  uint32_t read(uint32_t n);
  uint32_t decode(const DecodeTable& table);
};

class Unpacker {
public:
  // Packed input: 8192 bytes, refilled 8160 at a time behind a 32-byte
  // carry-over, plus zeroed padding so the bit reader's wide loads near the
  // refill thresholds stay inside the buffer.
  static constexpr uint32_t kInputSize = 8192;
  static constexpr uint32_t kInputCarry = 32;
  static constexpr uint32_t kInputPadding = 32;

  Unpacker() = default;
  Unpacker(const Unpacker&) = delete; // the bit input points into this object
  Unpacker& operator=(const Unpacker&) = delete;

  // Forgets every stream (between archives): the next entry decodes from clean state.
  void reset();

  // Decodes one entry into `window` (kWindowSize bytes). A new stream
  // (continuesSolid false) resets the state and zeroes the window; a continuing
  // one keeps the window, tables, distances and audio state of the previous entry.
  // Decoding ends when `unpackedSize` bytes are produced, when the output would
  // overflow, or when the packed input runs out; the caller's CRC check decides.
  void unpackEntry(uint8_t* window, bool continuesSolid, uint64_t unpackedSize, PackedSource source,
                   UnpackOutput& output);

  // True when the last entry asked for more bits than its packed input held.
  bool inputOverrun() const { return overrun; }

  // --- Steps of the format. ---
  uint32_t decodeSymbol(const DecodeTable& table); // refills first, as readBits does
  void readCodeTables();
  void peekTableSwitch();
  uint8_t decodeAudioSample(uint32_t delta);
  void flushWindow();
  void refillInput();

private:
  uint32_t readBits(uint32_t count);
  bool pastInputEnd(const BitInput& in) const;
  bool flushDue(uint32_t position) const;
  void resetStream();
  void decodeLzSymbols();
  void decodeAudioSymbol();
  uint32_t copyMatch(uint32_t position, uint32_t length, uint32_t distance);

  // Input.
  PackedSource source{};
  uint8_t inputBuffer[kInputSize + kInputPadding]{};
  BitInput input;
  int32_t inputTop = 0;  // the format's count of valid bytes (decides the end-of-entry peek)
  uint32_t validEnd = 0; // index just past the real packed bytes in inputBuffer
  bool overrun = false;

  // Window and output.
  uint8_t* window = nullptr;
  UnpackOutput* output = nullptr;
  uint32_t unpackPos = 0;
  uint32_t flushedPos = 0;
  int64_t bytesLeft = 0;

  // Code tables.
  DecodeTable literalTable{};
  DecodeTable distanceTable{};
  DecodeTable lengthTable{};
  DecodeTable bitLengthTable{};
  DecodeTable audioTables[kMaxAudioChannels]{};
  uint8_t previousLengths[kMaxTableLengths]{};

  // Matches.
  uint32_t recentDistances[4]{};
  uint32_t recentCounter = 0;
  uint32_t lastDistance = 0;
  uint32_t lastLength = 0;

  // Audio mode.
  bool audioMode = false;
  uint32_t channelCount = 1;
  uint32_t currentChannel = 0;
  int32_t channelDelta = 0;
  AudioChannel channels[kMaxAudioChannels]{};
};
