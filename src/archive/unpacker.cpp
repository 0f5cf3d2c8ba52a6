#include "archive/unpacker.h"

#include <algorithm>
#include <bit>
#include <cstdlib>
#include <cstring>
#include <iterator>

namespace {

// Refill thresholds of the input buffer: before each main-loop symbol, at the
// start of a table set, and before each code-length symbol. Each leaves room
// for the longest step that follows it.
constexpr uint32_t kMainLoopRefill = 8162;
constexpr uint32_t kTablesRefill = 8167;
constexpr uint32_t kCodeLengthRefill = 8187;
constexpr uint32_t kRefillSize = Unpacker::kInputSize - Unpacker::kInputCarry;

// Flush when fewer than this many bytes are free before unflushed output;
// no single step writes more than 260 bytes.
constexpr uint32_t kFlushMargin = 270;

// The end-of-entry table-switch peek needs this many bytes of input left.
constexpr int32_t kPeekMargin = 5;

} // namespace

void makeDecodeTable(const uint8_t* lengths, DecodeTable& table, uint32_t count) {
  uint32_t lengthCount[16] = {};
  for (uint32_t i = 0; i < count; ++i)
    ++lengthCount[lengths[i] & 15];
  lengthCount[0] = 0;

  table.limit[0] = 0;
  table.position[0] = 0;
  uint32_t code = 0;
  for (uint32_t length = 1; length < 16; ++length) {
    code = 2 * (code + lengthCount[length]);
    table.limit[length] = std::min<uint32_t>(code << (15 - length), 0xFFFF);
    table.position[length] = table.position[length - 1] + lengthCount[length - 1];
  }

  uint32_t next[16];
  std::copy(std::begin(table.position), std::end(table.position), next);
  std::fill(table.symbols, table.symbols + kMaxAlphabet, uint16_t(0));
  for (uint32_t symbol = 0; symbol < count; ++symbol) {
    const uint32_t length = lengths[symbol] & 15;
    if (length != 0)
      table.symbols[next[length]++] = uint16_t(symbol);
  }
  table.symbolCount = count;

  // The fast table: every 10-bit prefix whose code is at most 10 bits long.
  // Limits of lengths up to 10 are multiples of 64, so the prefix alone decides
  // the length; a capped limit (0xFFFF) admits every prefix, since decoding
  // compares with the lowest bit cleared.
  std::fill(std::begin(table.fast), std::end(table.fast), uint16_t(0));
  constexpr uint32_t kSpareBits = 16 - kFastBits;
  uint32_t prefix = 0;
  for (uint32_t length = 1; length <= kFastBits; ++length) {
    const uint32_t limit = table.limit[length] >= 0xFFFF ? 0x10000 : table.limit[length];
    const uint32_t end = limit >> kSpareBits;
    for (; prefix < end; ++prefix) {
      const uint32_t bits = prefix << kSpareBits;
      uint32_t index = ((bits - table.limit[length - 1]) >> (16 - length)) + table.position[length];
      if (index >= count)
        index = 0;
      table.fast[prefix] = uint16_t(table.symbols[index] << 4 | length);
    }
  }
}

void Unpacker::reset() {
  resetStream();
  audioMode = false;
  channelCount = 1;
  for (DecodeTable* table : {&literalTable, &distanceTable, &lengthTable, &bitLengthTable,
                             &audioTables[0], &audioTables[1], &audioTables[2], &audioTables[3]})
    *table = DecodeTable{};
}

// State of a new stream; the tables and the mode come with the stream's first table set.
void Unpacker::resetStream() {
  currentChannel = 0;
  channelDelta = 0;
  std::fill(std::begin(channels), std::end(channels), AudioChannel{});
  std::fill(std::begin(recentDistances), std::end(recentDistances), 0u);
  recentCounter = 0;
  std::fill(std::begin(previousLengths), std::end(previousLengths), uint8_t(0));
  lastDistance = 0;
  lastLength = 0;
  unpackPos = 0;
  flushedPos = 0;
}

// --- Bit input ---

namespace {

// Eight bytes as a big-endian number: one unaligned load (the input buffer's
// padding keeps it inside).
uint64_t loadBigEndian64(const uint8_t* p) {
  uint64_t value;
  memcpy(&value, p, sizeof value);
  if constexpr (std::endian::native == std::endian::little)
    value = __builtin_bswap64(value);
  return value;
}

} // namespace

void BitInput::start(const uint8_t* inputBuffer, uint32_t bitPosition) {
  buffer = inputBuffer;
  next = inputBuffer + bitPosition / 8;
  bits = 0;
  count = 0;
  refill();
  skip(bitPosition & 7);
}

// Loads the bytes from `next` behind the valid bits and advances `next` by the
// whole bytes that now fit. Bits beyond `count` are stream bits already, so
// or-ing the same bits again changes nothing.
inline void BitInput::refill() {
  bits |= loadBigEndian64(next) >> count;
  next += (63 - count) >> 3;
  count |= 56;
}

inline void BitInput::skip(uint32_t n) {
  bits <<= n;
  count -= n;
}

inline uint32_t BitInput::read(uint32_t n) {
  // Two shifts, so that a count of 0 gives 0.
  const uint32_t value = uint32_t(bits >> 1 >> (63 - n));
  skip(n);
  return value;
}

namespace {

// The canonical walk for codes longer than the fast table resolves: the
// shortest length whose limit lies above the code (compared with its lowest
// bit cleared), then the symbol's index; an index beyond the table gives the
// first symbol.
uint32_t decodeLongCode(BitInput& in, const DecodeTable& table) {
  const uint32_t bits = in.peek16() & 0xFFFE;
  uint32_t length = 1;
  while (length < 15 && bits >= table.limit[length])
    ++length;
  in.skip(length);
  uint32_t index = ((bits - table.limit[length - 1]) >> (16 - length)) + table.position[length];
  if (index >= table.symbolCount)
    index = 0;
  return table.symbols[index];
}

} // namespace

inline uint32_t BitInput::decode(const DecodeTable& table) {
  const uint32_t entry = table.fast[bits >> (64 - kFastBits)];
  if (entry == 0)
    return decodeLongCode(*this, table);
  skip(entry & 15);
  return entry >> 4;
}

uint32_t Unpacker::decodeSymbol(const DecodeTable& table) {
  input.refill();
  return input.decode(table);
}

uint32_t Unpacker::readBits(uint32_t count) {
  input.refill();
  return input.read(count);
}

// True when more bits were consumed than the packed input delivered.
bool Unpacker::pastInputEnd(const BitInput& in) const {
  return in.bitPosition() > validEnd * 8;
}

// Moves the last 32 bytes to the front and reads the next 8160 behind them.
// Once the input has ended (a short read), nothing more is read.
void Unpacker::refillInput() {
  memmove(inputBuffer, inputBuffer + kRefillSize, kInputCarry);
  const uint32_t position = input.bitPosition() - kRefillSize * 8;
  const bool inputEnded = validEnd < kInputSize;
  validEnd = validEnd > kRefillSize ? validEnd - kRefillSize : 0;
  const size_t count =
      inputEnded ? 0 : source.read(source.context, inputBuffer + kInputCarry, kRefillSize);
  if (count > 0) {
    validEnd = kInputCarry + uint32_t(count);
    inputTop = int32_t(validEnd);
  } else {
    inputTop = int32_t(position / 8);
  }
  input.start(inputBuffer, position);
}

// --- Code tables ---

// A table set: the mode bits, 19 code-length codes of 4 bits, then the code
// lengths of every alphabet, coded with those and delta-coded against the
// previous set.
void Unpacker::readCodeTables() {
  if (input.bytePosition() > kTablesRefill)
    refillInput();
  input.refill();
  const uint32_t header = input.peek16();
  audioMode = (header & 0x8000) != 0;
  if ((header & 0x4000) == 0)
    std::fill(std::begin(previousLengths), std::end(previousLengths), uint8_t(0));
  input.skip(2);

  uint32_t lengthCount = kLzTableLengths;
  if (audioMode) {
    channelCount = ((header >> 12) & 3) + 1;
    if (currentChannel >= channelCount)
      currentChannel = 0;
    input.skip(2);
    lengthCount = channelCount * kAudioSymbols;
  }

  uint8_t bitLengths[kBitLengthSymbols];
  for (uint8_t& length : bitLengths)
    length = uint8_t(readBits(4));
  makeDecodeTable(bitLengths, bitLengthTable, kBitLengthSymbols);

  uint8_t lengths[kMaxTableLengths] = {};
  uint32_t i = 0;
  while (i < lengthCount) {
    if (input.bytePosition() > kCodeLengthRefill)
      refillInput();
    if (pastInputEnd(input)) {
      overrun = true;
      return;
    }
    const uint32_t symbol = decodeSymbol(bitLengthTable);
    if (symbol < 16) {
      lengths[i] = uint8_t((symbol + previousLengths[i]) & 15);
      ++i;
      continue;
    }
    uint32_t run;
    uint8_t value = 0;
    if (symbol == kBitLengthRepeat) {
      run = 3 + readBits(2);
      value = i > 0 ? lengths[i - 1] : 0;
    } else if (symbol == kBitLengthZeros) {
      run = 3 + readBits(3);
    } else {
      run = 11 + readBits(7);
    }
    for (; run > 0 && i < lengthCount; --run)
      lengths[i++] = value;
  }

  if (audioMode) {
    for (uint32_t c = 0; c < channelCount; ++c)
      makeDecodeTable(lengths + c * kAudioSymbols, audioTables[c], kAudioSymbols);
  } else {
    makeDecodeTable(lengths, literalTable, kLiteralSymbols);
    makeDecodeTable(lengths + kLiteralSymbols, distanceTable, kDistanceSymbols);
    makeDecodeTable(lengths + kLiteralSymbols + kDistanceSymbols, lengthTable, kLengthSymbols);
  }
  std::copy(std::begin(lengths), std::end(lengths), previousLengths);
}

// At the end of an entry, a table switch right after its last symbol belongs
// to the stream: read the new tables so that a continuing entry starts with them.
void Unpacker::peekTableSwitch() {
  if (inputTop < int32_t(input.bytePosition()) + kPeekMargin)
    return;
  if (audioMode) {
    if (decodeSymbol(audioTables[currentChannel]) == kAudioSymbolNewTables)
      readCodeTables();
  } else if (decodeSymbol(literalTable) == kSymbolNewTables) {
    readCodeTables();
  }
}

// --- Output ---

// Copies `length` bytes from `distance` back to `position` and returns the
// position after them. Overlapping copies repeat the pattern, as a
// byte-by-byte copy would.
inline uint32_t Unpacker::copyMatch(uint32_t position, uint32_t length, uint32_t distance) {
  recentDistances[recentCounter++ & 3] = distance;
  lastDistance = distance;
  lastLength = length;

  uint8_t* const w = window;
  uint32_t src = (position - distance) & kWindowMask;
  const bool wraps = std::max(src, position) + length > kWindowSize;
  // Copying forward in blocks gives the byte-by-byte result when the source
  // leads the destination or trails it by at least the block size. A source
  // that leads by less than a block (a distance just short of the window
  // size) overlaps each block's destination, so every block is read whole
  // before it is stored: memmove, which for a fixed block size compiles to
  // the same one load and one store as memcpy.
  const uint32_t gap = src > position ? kWindowSize : position - src;
  if (!wraps && gap >= 8) {
    uint8_t* const to = w + position;
    const uint8_t* const from = w + src;
    uint32_t i = 0;
    if (gap >= 16)
      for (; i + 16 <= length; i += 16)
        memmove(to + i, from + i, 16);
    for (; i + 8 <= length; i += 8)
      memmove(to + i, from + i, 8);
    for (; i < length; ++i)
      to[i] = from[i];
    return (position + length) & kWindowMask;
  }
  for (uint32_t i = 0; i < length; ++i) {
    w[position] = w[src];
    position = (position + 1) & kWindowMask;
    src = (src + 1) & kWindowMask;
  }
  return position;
}

// True when fewer than kFlushMargin bytes are free before unflushed output.
bool Unpacker::flushDue(uint32_t position) const {
  return ((flushedPos - position) & kWindowMask) < kFlushMargin && flushedPos != position;
}

// Delivers the bytes from flushedPos up to unpackPos to the wanted entry's
// output; stops decoding instead when they would not fit.
void Unpacker::flushWindow() {
  const uint32_t count = (unpackPos - flushedPos) & kWindowMask;
  if (output->data != nullptr) {
    if (count > output->capacity - output->delivered) {
      bytesLeft = -1;
    } else {
      const uint32_t firstPart = std::min(count, kWindowSize - flushedPos);
      memcpy(output->data + output->delivered, window + flushedPos, firstPart);
      memcpy(output->data + output->delivered + firstPart, window, count - firstPart);
      output->delivered += count;
    }
  }
  flushedPos = unpackPos;
}

// --- Audio ---

// The byte the coded delta stands for on the current channel.
uint8_t Unpacker::decodeAudioSample(uint32_t delta) {
  return decodeAudioByte(channels[currentChannel], channelDelta, uint8_t(delta));
}

void Unpacker::decodeAudioSymbol() {
  const uint32_t symbol = decodeSymbol(audioTables[currentChannel]);
  if (symbol == kAudioSymbolNewTables) {
    readCodeTables();
    return;
  }
  window[unpackPos] = decodeAudioSample(symbol);
  unpackPos = (unpackPos + 1) & kWindowMask;
  --bytesLeft;
  if (++currentChannel == channelCount)
    currentChannel = 0;
}

// --- LZ ---

// Decodes LZ symbols until the main loop has work to do: a refill, a flush,
// the end of the input or of the output, or a table switch. The first symbol
// is decoded unconditionally (the main loop has just checked). The bit input,
// window position and byte count live in locals here.
void Unpacker::decodeLzSymbols() {
  BitInput in = input;
  uint32_t position = unpackPos;
  int64_t left = bytesLeft;
  uint8_t* const w = window;
  bool newTables = false;
  do {
    in.refill();
    const uint32_t symbol = in.decode(literalTable);
    if (symbol < 256) {
      w[position] = uint8_t(symbol);
      position = (position + 1) & kWindowMask;
      --left;
      continue;
    }
    uint32_t length, distance;
    if (symbol >= kSymbolMatchFirst) {
      const uint32_t slot = symbol - kSymbolMatchFirst;
      length = kLengthBase[slot] + 3 + in.read(kLengthExtraBits[slot]);
      const uint32_t distanceSlot = in.decode(distanceTable);
      distance = kDistanceBase[distanceSlot] + 1 + in.read(kDistanceExtraBits[distanceSlot]);
      length += (distance >= kLongDistance1) + (distance >= kLongDistance2);
    } else if (symbol == kSymbolNewTables) {
      newTables = true;
      break;
    } else if (symbol == kSymbolRepeatLast) {
      length = lastLength;
      distance = lastDistance;
    } else if (symbol < kSymbolShortFirst) {
      distance = recentDistances[(recentCounter - (symbol - kSymbolRepeatLast)) & 3];
      const uint32_t slot = in.decode(lengthTable);
      length = kLengthBase[slot] + 2 + in.read(kLengthExtraBits[slot]);
      length += (distance >= kRecentDistanceBonus) + (distance >= kLongDistance1) +
                (distance >= kLongDistance2);
    } else {
      const uint32_t slot = symbol - kSymbolShortFirst;
      length = 2;
      distance = kShortDistanceBase[slot] + 1 + in.read(kShortDistanceExtraBits[slot]);
    }
    // A match may carry the count past the unpacked size; the loop then ends.
    left -= length;
    position = copyMatch(position, length, distance);
  } while (left > 0 && in.bytePosition() <= kMainLoopRefill && !flushDue(position) &&
           !pastInputEnd(in));
  input = in;
  unpackPos = position;
  bytesLeft = left;
  if (newTables)
    readCodeTables();
}

// --- Entry ---

void Unpacker::unpackEntry(uint8_t* entryWindow, bool continuesSolid, uint64_t unpackedSize,
                           PackedSource packedSource, UnpackOutput& entryOutput) {
  window = entryWindow;
  output = &entryOutput;
  source = packedSource;
  overrun = false;
  if (!continuesSolid) {
    resetStream();
    memset(window, 0, kWindowSize);
  }

  validEnd = uint32_t(source.read(source.context, inputBuffer, kInputSize));
  inputTop = int32_t(validEnd);
  input.start(inputBuffer, 0);
  if (!continuesSolid)
    readCodeTables();

  bytesLeft = int64_t(unpackedSize);
  while (bytesLeft > 0 && !overrun) {
    if (input.bytePosition() > kMainLoopRefill)
      refillInput();
    if (pastInputEnd(input)) {
      overrun = true;
      break;
    }
    if (flushDue(unpackPos))
      flushWindow();
    if (audioMode)
      decodeAudioSymbol();
    else
      decodeLzSymbols();
  }
  if (!overrun)
    peekTableSwitch();
  flushWindow();
}
