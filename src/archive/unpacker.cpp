#include "archive/unpacker.h"

#include "archive/archive_format.h"
#include "archive/audio_predictor.h"
#include "archive/decode_table.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstring>
#include <iterator>

namespace {

// --- Input buffer ---

// Packed input: 64 KiB, refilled all but 32 bytes at a time behind a 32-byte
// carry-over, plus zeroed padding so that the bit input's eight-byte loads near
// the refill thresholds stay inside the buffer. Large reads keep the calls to
// the source (file reads) few.
constexpr uint32_t kInputSize = 1u << 16;
constexpr uint32_t kInputCarry = 32;
constexpr uint32_t kInputPadding = 32;
constexpr uint32_t kRefillSize = kInputSize - kInputCarry;
// Every read asks for whole 16-byte blocks, which is what an enciphered
// entry's reader deciphers at a time.
static_assert(kInputSize % 16 == 0 && kRefillSize % 16 == 0);

// The most bits one step reads after its input check: a main-loop match (a
// length code and its extra bits, a distance code and its extra bits), the
// head of a table set (two mode bits, two channel bits, 19 four-bit code
// lengths) and one code length (a code and a run's extra bits, at most 7).
constexpr uint32_t mostOf(const uint8_t* bits, uint32_t count) {
  return *std::max_element(bits, bits + count);
}
constexpr uint32_t kLongestMatchBits = kMaxCodeLength + mostOf(kLengthExtraBits, kLengthSymbols) +
                                       kMaxCodeLength +
                                       mostOf(kDistanceExtraBits, kDistanceSymbols);
constexpr uint32_t kTableHeadBits = 2 + 2 + kBitLengthSymbols * 4;
constexpr uint32_t kLongestCodeLengthBits = kMaxCodeLength + 7;

// Bytes that must follow the read position at a check for a step of `bits`
// bits to stay inside them: up to 7 bits of the current byte are read already.
constexpr uint32_t bytesForStep(uint32_t bits) {
  return (7 + bits + 7) / 8;
}

// The input refills when fewer than these bytes follow the read position:
// before each main-loop symbol, at the start of a table set, and before each
// code-length symbol. Each covers its longest step, and the carry-over keeps
// every byte not yet read. They are not cut to those minimums: a refill that
// finds the input ended sets where the end-of-entry table peek sees the input
// end, so moving them would change which solid streams continue with new tables.
constexpr uint32_t kMainLoopMargin = 30;
constexpr uint32_t kTablesMargin = 25;
constexpr uint32_t kCodeLengthMargin = 5;
static_assert(kMainLoopMargin >= bytesForStep(kLongestMatchBits));
static_assert(kTablesMargin >= bytesForStep(kTableHeadBits));
static_assert(kCodeLengthMargin >= bytesForStep(kLongestCodeLengthBits));
static_assert(std::max({kMainLoopMargin, kTablesMargin, kCodeLengthMargin}) <= kInputCarry);
constexpr uint32_t kMainLoopRefill = kInputSize - kMainLoopMargin;
constexpr uint32_t kTablesRefill = kInputSize - kTablesMargin;
constexpr uint32_t kCodeLengthRefill = kInputSize - kCodeLengthMargin;

// Outputs up to this size can be decoded into directly (positions stay 32-bit).
constexpr size_t kMaxDirectOutput = size_t(1) << 31;

// Decoded bytes go to the output in chunks of about kFlushChunk, while they
// are still in the cache: a flush is due when fewer than kFlushMargin bytes
// are left of the chunk. No step writes more than the longest match (a short
// match stores a whole 16-byte block).
constexpr uint32_t kFlushChunk = 1u << 16;
constexpr uint32_t kFlushMargin = 270;
static_assert(kFlushMargin >= std::max(kLongestMatch, 16u));

// The end-of-entry table-switch peek reads one code: it needs this many
// bytes of input left.
constexpr int32_t kPeekMargin = 5;
static_assert(kPeekMargin >= int32_t(bytesForStep(kMaxCodeLength)));

// --- Bit input ---

// Eight bytes as a big-endian number: one unaligned load (the input buffer's
// padding keeps it inside).
uint64_t loadBigEndian64(const uint8_t* p) {
  uint64_t value;
  memcpy(&value, p, sizeof value);
  if constexpr (std::endian::native == std::endian::little)
    value = __builtin_bswap64(value);
  return value;
}

// Reads the packed input most significant bit first through a 64-bit bit
// buffer: `bits` holds the next bits left-aligned, `count` of them valid. A
// refill tops it up to at least 56 bits with one unaligned load, enough for the
// longest match. The loops work on a local copy, so
// that stores into the window do not make the compiler reload it.
struct BitInput {
  const uint8_t* buffer = nullptr; // the input buffer the positions count from
  const uint8_t* next = nullptr;   // the first byte not yet loaded into `bits`
  uint64_t bits = 0;
  uint32_t count = 0;

  // Starts reading at a bit position of `buffer`.
  void start(const uint8_t* inputBuffer, uint32_t bitPosition) {
    buffer = inputBuffer;
    next = inputBuffer + bitPosition / 8;
    bits = 0;
    count = 0;
    refill();
    skip(bitPosition & 7);
  }

  // Bits consumed since the start of the buffer.
  uint32_t bitPosition() const { return uint32_t(next - buffer) * 8 - count; }
  uint32_t bytePosition() const { return bitPosition() >> 3; }

  // Loads the bytes from `next` behind the valid bits and advances `next` by
  // the whole bytes that now fit. Afterwards all 64 bits are stream bits;
  // those beyond `count` are loaded again by the next refill, and or-ing the
  // same bits again changes nothing.
  void refill() {
    bits |= loadBigEndian64(next) >> count;
    next += (63 - count) >> 3;
    count |= 56;
  }

  // While `next` is at most this far into the buffer, a refilled input (56
  // bits or more loaded) has consumed at most `limit` bits: the loops' bound
  // checks are one comparison most of the time.
  const uint8_t* surelyWithin(uint32_t limit) const { return buffer + (limit + 56) / 8; }

  uint32_t peek16() const { return uint32_t(bits >> 48); }

  void skip(uint32_t n) {
    bits <<= n;
    count -= n;
  }

  uint32_t read(uint32_t n) {
    // Two shifts, so that a count of 0 gives 0.
    const uint32_t value = uint32_t(bits >> 1 >> (63 - n));
    skip(n);
    return value;
  }
};
static_assert(kLongestMatchBits <= 56, "one refill must hold a whole match");

// --- The alphabets and their tables ---

// Tables of plain symbols: code lengths and audio deltas.
constexpr std::array<SymbolEntry, kAudioSymbols> kPlainSymbols = [] {
  std::array<SymbolEntry, kAudioSymbols> symbols{};
  for (uint32_t symbol = 0; symbol < kAudioSymbols; ++symbol)
    symbols[symbol] = symbolEntry(symbol);
  return symbols;
}();

// Literal/length symbols: the field holds a kind (its top 3 bits) and what
// the kind needs, so that a match's length comes with the lookup of its symbol.
enum SymbolKind : uint32_t {
  kLiteral,     // the byte
  kMatch,       // the number: the length before the distance's bonus
  kShortMatch,  // the number: the distance (length 2)
  kRecentMatch, // the number: how many matches back the distance was used (1-4)
  kRepeatLast,  // the previous match again
  kNewTables,   // a table set follows
  kLongCode = 7,
};
constexpr uint32_t kKindShift = kEntryFieldBits - 3;
constexpr uint32_t kindOf(uint32_t entry) {
  return entryField(entry) >> kKindShift;
}
// Entries below this are literals.
constexpr uint32_t kFirstNonLiteral = fieldEntry(kMatch << kKindShift);
static_assert(kLongCodeEntry == fieldEntry(kLongCode << kKindShift));

constexpr SymbolEntry kindSymbol(SymbolKind kind, uint32_t value, uint32_t extraBits = 0) {
  return symbolEntry(kind << kKindShift | value, extraBits, kind == kLiteral ? 0 : kKindShift);
}

constexpr std::array<SymbolEntry, kLiteralSymbols> kLiteralSymbolEntries = [] {
  std::array<SymbolEntry, kLiteralSymbols> symbols{};
  for (uint32_t symbol = 0; symbol < kLiteralSymbols; ++symbol) {
    if (symbol < kSymbolRepeatLast) {
      symbols[symbol] = kindSymbol(kLiteral, symbol);
    } else if (symbol == kSymbolRepeatLast) {
      symbols[symbol] = kindSymbol(kRepeatLast, 0);
    } else if (symbol < kSymbolShortFirst) {
      symbols[symbol] = kindSymbol(kRecentMatch, symbol - kSymbolRepeatLast);
    } else if (symbol < kSymbolNewTables) {
      const uint32_t slot = symbol - kSymbolShortFirst;
      symbols[symbol] =
          kindSymbol(kShortMatch, kShortDistanceBase[slot] + 1u, kShortDistanceExtraBits[slot]);
    } else if (symbol == kSymbolNewTables) {
      symbols[symbol] = kindSymbol(kNewTables, 0);
    } else {
      const uint32_t slot = symbol - kSymbolMatchFirst;
      symbols[symbol] =
          kindSymbol(kMatch, kLengthBase[slot] + kMatchLengthStart, kLengthExtraBits[slot]);
    }
  }
  return symbols;
}();

// Distance slots: the number is the distance.
constexpr std::array<SymbolEntry, kDistanceSymbols> kDistanceSymbolEntries = [] {
  std::array<SymbolEntry, kDistanceSymbols> symbols{};
  for (uint32_t slot = 0; slot < kDistanceSymbols; ++slot)
    symbols[slot] = symbolEntry(kDistanceBase[slot] + 1, kDistanceExtraBits[slot], kEntryFieldBits);
  return symbols;
}();

// Length slots after a recent-distance symbol: the number is the length
// before the distance's bonus.
constexpr std::array<SymbolEntry, kLengthSymbols> kLengthSymbolEntries = [] {
  std::array<SymbolEntry, kLengthSymbols> symbols{};
  for (uint32_t slot = 0; slot < kLengthSymbols; ++slot)
    symbols[slot] = symbolEntry(kLengthBase[slot] + kRecentLengthStart, kLengthExtraBits[slot],
                                kEntryFieldBits);
  return symbols;
}();

// A match's length grows by one at kLongDistance1 and again at
// kLongDistance2, both multiples of 2^13: the bonus by distance / 2^13.
constexpr uint32_t kBonusShift = 13;
static_assert(kLongDistance1 % (1u << kBonusShift) == 0 &&
              kLongDistance2 % (1u << kBonusShift) == 0);
constexpr std::array<uint8_t, (kWindowSize >> kBonusShift) + 1> kLongDistanceBonus = [] {
  std::array<uint8_t, (kWindowSize >> kBonusShift) + 1> bonus{};
  for (uint32_t i = 0; i < bonus.size(); ++i)
    bonus[i] = uint8_t((i << kBonusShift >= kLongDistance1) + (i << kBonusShift >= kLongDistance2));
  return bonus;
}();

static_assert(kUnpackWindowSize >= 2 * kWindowSize && (kUnpackWindowSize & kUnpackWindowMask) == 0);

// Lookup widths: most codes of each alphabet fit, and the tables stay small
// enough to rebuild at every table set and to stay in the first-level cache.
using LiteralTable = DecodeTable<11, kLiteralSymbols>;
using DistanceTable = DecodeTable<10, kDistanceSymbols>;
using LengthTable = DecodeTable<9, kLengthSymbols>;
using BitLengthTable = DecodeTable<7, kBitLengthSymbols>;
using AudioTable = DecodeTable<10, kAudioSymbols>;

} // namespace

// --- State ---

struct Unpacker::State {
  // Input.
  PackedSource source{};
  uint8_t inputBuffer[kInputSize + kInputPadding]{};
  BitInput input;
  int32_t inputTop = 0;  // the format's count of valid bytes (decides the end-of-entry peek)
  uint32_t validEnd = 0; // index just past the real packed bytes in inputBuffer
  bool overrun = false;

  // Window and output. While `direct`, LZ symbols are decoded straight into
  // the output, whose bytes are then the history, and output->delivered is
  // the position: no copy out of the window.
  uint8_t* window = nullptr;
  UnpackOutput* output = nullptr;
  bool direct = false;
  uint32_t unpackPos = 0;
  uint32_t flushedPos = 0;
  int64_t bytesLeft = 0;

  // Code tables.
  LiteralTable literalTable;
  DistanceTable distanceTable;
  LengthTable lengthTable;
  BitLengthTable bitLengthTable;
  AudioTable audioTables[kMaxAudioChannels];
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

namespace {

using State = Unpacker::State;

// --- Steps of the format ---

// State of a new stream; the tables and the mode come with the stream's first table set.
void resetStream(State& s) {
  s.currentChannel = 0;
  s.channelDelta = 0;
  std::fill(std::begin(s.channels), std::end(s.channels), AudioChannel{});
  std::fill(std::begin(s.recentDistances), std::end(s.recentDistances), 0u);
  s.recentCounter = 0;
  std::fill(std::begin(s.previousLengths), std::end(s.previousLengths), uint8_t(0));
  s.lastDistance = 0;
  s.lastLength = 0;
  s.unpackPos = 0;
  s.flushedPos = 0;
}

// The tables before any table set: every code length 0.
void resetTables(State& s) {
  const uint8_t noLengths[kMaxTableLengths] = {};
  s.literalTable.build(noLengths, kLiteralSymbolEntries.data());
  s.distanceTable.build(noLengths, kDistanceSymbolEntries.data());
  s.lengthTable.build(noLengths, kLengthSymbolEntries.data());
  s.bitLengthTable.build(noLengths, kPlainSymbols.data());
  for (AudioTable& table : s.audioTables)
    table.build(noLengths, kPlainSymbols.data());
}

uint32_t readBits(State& s, uint32_t count) {
  s.input.refill();
  return s.input.read(count);
}

// True when more bits were consumed than the packed input delivered.
bool pastInputEnd(const State& s, const BitInput& in) {
  return in.bitPosition() > s.validEnd * 8;
}

// Moves the last 32 bytes to the front and reads the next kRefillSize behind them.
// Once the input has ended (a short read), nothing more is read.
void refillInput(State& s) {
  memmove(s.inputBuffer, s.inputBuffer + kRefillSize, kInputCarry);
  const uint32_t position = s.input.bitPosition() - kRefillSize * 8;
  const bool inputEnded = s.validEnd < kInputSize;
  s.validEnd = s.validEnd > kRefillSize ? s.validEnd - kRefillSize : 0;
  const size_t count =
      inputEnded ? 0 : s.source.read(s.source.context, s.inputBuffer + kInputCarry, kRefillSize);
  if (count > 0) {
    s.validEnd = kInputCarry + uint32_t(count);
    s.inputTop = int32_t(s.validEnd);
  } else {
    s.inputTop = int32_t(position / 8);
  }
  s.input.start(s.inputBuffer, position);
}

// Decodes a symbol of a table of plain symbols, refilling first.
template <class Table> uint32_t decodeSymbol(BitInput& in, const Table& table) {
  in.refill();
  const uint32_t entry = table.lookup(in.bits);
  in.skip(entryBits(entry));
  return entryField(entry);
}

// The code lengths of a table set, coded with the code-length code and
// delta-coded against the previous set. The bit input lives in a local here
// as in the LZ loop; the refill threshold and the input's end are checked
// exactly only when `next` comes near either. False when the input ran out.
bool readCodeLengths(State& s, uint8_t* lengths, uint32_t lengthCount) {
  BitInput in = s.input;
  const auto limit = [&] { return std::min(kCodeLengthRefill * 8 + 7, s.validEnd * 8); };
  const uint8_t* within = in.surelyWithin(limit());
  // As in the LZ loop, each entry is looked up ahead of the refill.
  in.refill();
  uint32_t entry = s.bitLengthTable.lookup(in.bits);
  uint32_t i = 0;
  while (i < lengthCount) {
    if (in.next > within) {
      if (in.bytePosition() > kCodeLengthRefill) {
        s.input = in;
        refillInput(s);
        in = s.input;
        within = in.surelyWithin(limit());
      }
      if (pastInputEnd(s, in)) {
        s.input = in;
        return false;
      }
    }
    in.skip(entryBits(entry));
    const uint32_t symbol = entryField(entry);
    if (symbol < 16) {
      lengths[i] = uint8_t((symbol + s.previousLengths[i]) & 15);
      ++i;
    } else {
      // At most kLongestCodeLengthBits since the refill.
      uint32_t run;
      uint8_t value = 0;
      if (symbol == kBitLengthRepeat) {
        run = 3 + in.read(2);
        value = i > 0 ? lengths[i - 1] : 0;
      } else if (symbol == kBitLengthZeros) {
        run = 3 + in.read(3);
      } else {
        run = 11 + in.read(7);
      }
      for (; run > 0 && i < lengthCount; --run)
        lengths[i++] = value;
    }
    entry = s.bitLengthTable.lookup(in.bits);
    in.refill();
  }
  s.input = in;
  return true;
}

// A table set: the mode bits, 19 code-length codes of 4 bits, then the code
// lengths of every alphabet.
void readCodeTables(State& s) {
  if (s.input.bytePosition() > kTablesRefill)
    refillInput(s);
  s.input.refill();
  const uint32_t header = s.input.peek16();
  s.audioMode = (header & 0x8000) != 0;
  if ((header & 0x4000) == 0)
    std::fill(std::begin(s.previousLengths), std::end(s.previousLengths), uint8_t(0));
  s.input.skip(2);

  uint32_t lengthCount = kLzTableLengths;
  if (s.audioMode) {
    s.channelCount = ((header >> 12) & 3) + 1;
    if (s.currentChannel >= s.channelCount)
      s.currentChannel = 0;
    s.input.skip(2);
    lengthCount = s.channelCount * kAudioSymbols;
  }

  uint8_t bitLengths[kBitLengthSymbols];
  for (uint8_t& length : bitLengths)
    length = uint8_t(readBits(s, 4));
  s.bitLengthTable.build(bitLengths, kPlainSymbols.data());

  uint8_t lengths[kMaxTableLengths] = {};
  if (!readCodeLengths(s, lengths, lengthCount)) {
    s.overrun = true;
    return;
  }
  if (s.audioMode) {
    for (uint32_t c = 0; c < s.channelCount; ++c)
      s.audioTables[c].build(lengths + c * kAudioSymbols, kPlainSymbols.data());
  } else {
    s.literalTable.build(lengths, kLiteralSymbolEntries.data());
    s.distanceTable.build(lengths + kLiteralSymbols, kDistanceSymbolEntries.data());
    s.lengthTable.build(lengths + kLiteralSymbols + kDistanceSymbols, kLengthSymbolEntries.data());
  }
  std::copy(std::begin(lengths), std::end(lengths), s.previousLengths);
}

// At the end of an entry, a table switch right after its last symbol belongs
// to the stream: read the new tables so that a continuing entry starts with them.
void peekTableSwitch(State& s) {
  if (s.inputTop < int32_t(s.input.bytePosition()) + kPeekMargin)
    return;
  if (s.audioMode) {
    if (decodeSymbol(s.input, s.audioTables[s.currentChannel]) == kAudioSymbolNewTables)
      readCodeTables(s);
    return;
  }
  s.input.refill();
  const uint32_t entry = s.literalTable.lookup(s.input.bits);
  s.input.skip(entryBits(entry));
  if (kindOf(entry) == kNewTables)
    readCodeTables(s);
}

// --- Output ---

template <size_t kSize> void copyBlock(uint8_t* to, const uint8_t* from) {
  uint8_t block[kSize];
  memcpy(block, from, kSize);
  memcpy(to, block, kSize);
}

// Copies `length` (at least kSize) bytes in blocks, in order, the last one
// ending at `length`: with a source trailing by kSize or more, or lying
// wholly ahead, each block reads bytes already final.
template <size_t kSize> void copyInBlocks(uint8_t* to, const uint8_t* from, uint32_t length) {
  for (uint32_t i = 0; i + kSize < length; i += kSize)
    copyBlock<kSize>(to + i, from + i);
  copyBlock<kSize>(to + length - kSize, from + length - kSize);
}

// Copies `length` bytes from `distance` (1 to kWindowSize) back to `position`
// as copying byte by byte would: a distance shorter than the length repeats
// the pattern, and both ranges wrap at the window's end.
void copyMatch(uint8_t* window, uint32_t position, uint32_t length, uint32_t distance) {
  const uint32_t source = (position - distance) & kUnpackWindowMask;
  uint8_t* const to = window + position;
  const uint8_t* const from = window + source;
  // The common case, without a branch on the length: the source block is
  // final (it trails by a block or lies wholly ahead), and the destination
  // takes the whole block. Its bytes past `length` are older than any
  // distance reaches, and the next symbols overwrite them.
  if (length <= 16 && std::max(source, position) + 16 <= kUnpackWindowSize &&
      (source + 16 <= position || position + length <= source)) {
    copyBlock<16>(to, from);
    return;
  }
  const bool inside = std::max(source, position) + length <= kUnpackWindowSize;
  if (inside && length >= 16 && (source + 16 <= position || position + length <= source)) {
    copyInBlocks<16>(to, from, length);
  } else if (inside && length >= 8 && source + 8 <= position) {
    copyInBlocks<8>(to, from, length); // a source trailing by 8 to 15 bytes
  } else {
    for (uint32_t i = 0; i < length; ++i)
      window[(position + i) & kUnpackWindowMask] = window[(source + i) & kUnpackWindowMask];
  }
}

// The same into the output, which holds the whole stream from its first byte;
// bytes before that are a new stream's zeroed history. Every byte up to
// `position + length` is written, whatever the output held. The caller leaves
// room after `position` for the longest match and a whole block.
void copyMatchDirect(uint8_t* output, uint32_t position, uint32_t length, uint32_t distance) {
  uint8_t* const to = output + position;
  if (distance > position) {
    for (uint32_t i = 0; i < length; ++i)
      to[i] = position + i >= distance ? output[position + i - distance] : 0;
    return;
  }
  const uint8_t* const from = to - distance;
  if (length <= 16 && distance >= 16) {
    copyBlock<16>(to, from);
  } else if (distance >= 16) {
    copyInBlocks<16>(to, from, length);
  } else if (length >= 8 && distance >= 8) {
    copyInBlocks<8>(to, from, length);
  } else {
    for (uint32_t i = 0; i < length; ++i)
      to[i] = from[i];
  }
}

uint32_t unflushedBytes(const State& s) {
  return (s.unpackPos - s.flushedPos) & kUnpackWindowMask;
}

bool flushDue(const State& s) {
  return unflushedBytes(s) > kFlushChunk - kFlushMargin;
}

// Makes room for `needed` bytes in all in the output: there already, or
// granted by a growing output.
bool roomFor(UnpackOutput& output, size_t needed) {
  return needed <= output.capacity ||
         (output.grow != nullptr && output.grow(output, needed, output.growContext));
}

// Delivers the bytes from flushedPos up to unpackPos to the wanted entry's
// output; stops decoding instead when they would not fit.
void flushWindow(State& s) {
  const uint32_t count = unflushedBytes(s);
  UnpackOutput& output = *s.output;
  if (output.data != nullptr) {
    if (!roomFor(output, output.delivered + count)) {
      s.bytesLeft = -1;
    } else {
      const uint32_t firstPart = std::min(count, kUnpackWindowSize - s.flushedPos);
      memcpy(output.data + output.delivered, s.window + s.flushedPos, firstPart);
      memcpy(output.data + output.delivered + firstPart, s.window, count - firstPart);
      output.delivered += count;
    }
  }
  s.flushedPos = s.unpackPos;
}

// A new stream's history before its first byte is zeros. Once `produced`
// bytes are in the window, matches reach back to the zeros before the stream
// only while fewer than kWindowSize bytes have been produced, and those lie
// at the window's end; every other window byte a match can reach has been
// written since the stream began. So only those are cleared, not the window.
void clearHistoryBefore(State& s, size_t produced) {
  if (produced < kWindowSize)
    memset(s.window + kUnpackWindowSize - (kWindowSize - produced), 0, kWindowSize - produced);
}

// Ends decoding into the output: the window takes the last kWindowSize bytes
// (all a match can reach) at their positions, as if they had been decoded there
// and flushed, and zeros before the stream's first byte.
void leaveOutput(State& s) {
  const size_t end = s.output->delivered;
  for (size_t p = end - std::min<size_t>(end, kWindowSize); p < end;) {
    const size_t run = std::min<size_t>(end - p, kUnpackWindowSize - (p & kUnpackWindowMask));
    memcpy(s.window + (p & kUnpackWindowMask), s.output->data + p, run);
    p += run;
  }
  clearHistoryBefore(s, end);
  s.unpackPos = uint32_t(end & kUnpackWindowMask);
  s.flushedPos = s.unpackPos;
  s.direct = false;
}

// Whether the next direct step has room in the output, the last kFlushMargin
// bytes excepted; positions stay below kMaxDirectOutput.
bool directRoom(State& s) {
  const size_t needed = s.output->delivered + kFlushMargin;
  return needed <= kMaxDirectOutput && roomFor(*s.output, needed);
}

// --- Audio ---

void decodeAudioSymbol(State& s) {
  const uint32_t symbol = decodeSymbol(s.input, s.audioTables[s.currentChannel]);
  if (symbol == kAudioSymbolNewTables) {
    readCodeTables(s);
    return;
  }
  s.window[s.unpackPos] =
      decodeAudioByte(s.channels[s.currentChannel], s.channelDelta, uint8_t(symbol));
  s.unpackPos = (s.unpackPos + 1) & kUnpackWindowMask;
  --s.bytesLeft;
  if (++s.currentChannel == s.channelCount)
    s.currentChannel = 0;
}

// --- LZ ---

// Decodes LZ symbols until the main loop has work to do: a refill, a flush,
// the end of the input or of the output, the window's end, or a table switch.
// The first symbol is decoded unconditionally (the main loop has just
// checked). The bit input, the window position and the match history live in
// locals here, and the main loop's checks become two limits: on the window
// position (which does not wrap within the loop) and on the input's bit
// position. kDirect decodes into the output instead of the window.
template <bool kDirect> void decodeLzSymbols(State& s) {
  BitInput in = s.input;
  uint8_t* const w = kDirect ? s.output->data : s.window;
  const LiteralTable& literals = s.literalTable;
  const DistanceTable& distances = s.distanceTable;
  const LengthTable& lengths = s.lengthTable;
  uint32_t recent[4];
  std::copy(std::begin(s.recentDistances), std::end(s.recentDistances), recent);
  uint32_t recentCounter = s.recentCounter;
  uint32_t lastDistance = s.lastDistance;
  uint32_t lastLength = s.lastLength;

  // Output: no more than bytesLeft (after a failed flush, bytesLeft is
  // negative: one symbol, as the main loop's count allows); in the window no
  // flush due and not past its end; in the output, room for the last step.
  const uint32_t start = kDirect ? uint32_t(s.output->delivered) : s.unpackPos;
  const uint64_t roomEnd =
      kDirect ? s.output->capacity - kFlushMargin + 1
              : std::min<uint64_t>(start + (kFlushChunk - kFlushMargin - unflushedBytes(s)) + 1,
                                   kUnpackWindowSize);
  const uint64_t outputEnd =
      std::min<uint64_t>(start + uint64_t(std::max<int64_t>(s.bytesLeft, 0)), roomEnd);
  // Input: not past the refill threshold, nor past the packed bytes.
  const uint32_t inputEnd = std::min(kMainLoopRefill * 8 + 7, s.validEnd * 8);
  const uint8_t* const within = in.surelyWithin(inputEnd);

  uint32_t position = start;
  bool newTables = false;
  // The entry of the next symbol is looked up ahead of the refill, so that
  // the lookup need not wait for the refill's load: after a refill all 64
  // bits are stream bits, and a symbol consumes at most kLongestMatchBits of them.
  in.refill();
  uint32_t entry = literals.entries[in.bits >> (64 - LiteralTable::kLookupBits)];
  do {
    if (entry >= kFirstNonLiteral && entry == kLongCodeEntry)
      entry = literals.walk(in.bits);
    if (entry < kFirstNonLiteral) {
      w[position++] = uint8_t(entryField(entry));
      in.skip(entryBits(entry));
      entry = literals.entries[in.bits >> (64 - LiteralTable::kLookupBits)];
      in.refill();
      continue;
    }
    // The number the symbol's entry carries, by kind.
    const uint32_t value = entryNumber<kKindShift>(entry, in.bits);
    in.skip(entryBits(entry));
    // `distance` is the match's distance as the stream records it; `reach`
    // how far back the copy reads. They differ only for a distance of 0,
    // which a recent distance or a repeat gives before four matches have
    // been made: it is one whole window back (the byte a 1 MiB window would
    // replace), and it adds no length bonus.
    uint32_t length, distance, reach;
    if (kindOf(entry) == kMatch) {
      // The length, then a distance slot; far matches are longer.
      const uint32_t slot = distances.lookup(in.bits);
      distance = entryNumber<kEntryFieldBits>(slot, in.bits);
      in.skip(entryBits(slot));
      length = value + kLongDistanceBonus[distance >> kBonusShift];
      reach = distance;
    } else if (kindOf(entry) == kShortMatch) {
      length = 2;
      distance = value;
      reach = distance;
    } else if (kindOf(entry) == kRecentMatch) {
      // One of the last four distances, then a length slot.
      distance = recent[(recentCounter - value) & 3];
      const uint32_t slot = lengths.lookup(in.bits);
      length = entryNumber<kEntryFieldBits>(slot, in.bits) + (distance >= kRecentDistanceBonus) +
               kLongDistanceBonus[distance >> kBonusShift];
      in.skip(entryBits(slot));
      reach = ((distance - 1) & kWindowMask) + 1;
    } else if (kindOf(entry) == kRepeatLast) {
      length = lastLength;
      distance = lastDistance;
      reach = ((distance - 1) & kWindowMask) + 1;
    } else {
      newTables = true;
      break;
    }
    entry = literals.entries[in.bits >> (64 - LiteralTable::kLookupBits)];
    in.refill();
    recent[recentCounter++ & 3] = distance;
    lastDistance = distance;
    lastLength = length;
    if constexpr (kDirect)
      copyMatchDirect(w, position, length, reach);
    else
      copyMatch(w, position, length, reach);
    position += length;
  } while (position < outputEnd && (in.next <= within || in.bitPosition() <= inputEnd));

  s.input = in;
  s.bytesLeft -= position - start;
  if constexpr (kDirect)
    s.output->delivered = position;
  else
    s.unpackPos = position & kUnpackWindowMask;
  std::copy(std::begin(recent), std::end(recent), s.recentDistances);
  s.recentCounter = recentCounter;
  s.lastDistance = lastDistance;
  s.lastLength = lastLength;
  if (newTables)
    readCodeTables(s);
}

} // namespace

// --- Entry ---

Unpacker::Unpacker() : state(std::make_unique<State>()) {
  reset();
}

Unpacker::~Unpacker() = default;

bool Unpacker::inputOverrun() const {
  return state->overrun;
}

void Unpacker::reset() {
  State& s = *state;
  resetStream(s);
  s.audioMode = false;
  s.channelCount = 1;
  resetTables(s);
}

void Unpacker::unpackEntry(uint8_t* window, bool continuesSolid, uint64_t unpackedSize,
                           PackedSource source, UnpackOutput& output) {
  State& s = *state;
  s.window = window;
  s.output = &output;
  s.source = source;
  s.overrun = false;
  if (!continuesSolid)
    resetStream(s);

  s.validEnd = uint32_t(source.read(source.context, s.inputBuffer, kInputSize));
  s.inputTop = int32_t(s.validEnd);
  s.input.start(s.inputBuffer, 0);
  if (!continuesSolid)
    readCodeTables(s);

  // A new stream's entry that fits the output (or that a growing output can
  // take) is decoded straight into it, until audio mode or the output's last
  // bytes call for the window.
  s.direct = !continuesSolid && output.data != nullptr && output.delivered == 0 &&
             (unpackedSize <= output.capacity || output.grow != nullptr) &&
             std::max<uint64_t>(unpackedSize, output.capacity) <= kMaxDirectOutput;
  // Decoding into the output needs no window until it leaves the output.
  if (!continuesSolid && !s.direct)
    clearHistoryBefore(s, 0);
  s.bytesLeft = int64_t(unpackedSize);
  while (s.bytesLeft > 0 && !s.overrun) {
    if (s.input.bytePosition() > kMainLoopRefill)
      refillInput(s);
    if (pastInputEnd(s, s.input)) {
      s.overrun = true;
      break;
    }
    if (s.direct && (s.audioMode || !directRoom(s)))
      leaveOutput(s);
    if (s.direct) {
      decodeLzSymbols<true>(s);
      continue;
    }
    if (flushDue(s))
      flushWindow(s);
    if (s.audioMode)
      decodeAudioSymbol(s);
    else
      decodeLzSymbols<false>(s);
  }
  if (!s.overrun)
    peekTableSwitch(s);
  if (s.direct)
    leaveOutput(s);
  flushWindow(s);
}
