// The decompressor on streams written by hand: fixed-length codes for the
// cases of the format, random codes against a byte-by-byte model.
#include "archive/decode_table.h"
#include "archive/unpacker.h"
#include "archive_test_support.h"

#include <gtest/gtest.h>
#include <memory>
#include <random>

using namespace archive_test;
using archive_model::ByteModel;
using archive_model::canonicalCodes;

namespace {

struct MemorySource {
  const Bytes* bytes;
  size_t position = 0;
  static size_t read(void* context, uint8_t* buffer, size_t count) {
    auto* self = static_cast<MemorySource*>(context);
    count = std::min(count, self->bytes->size() - self->position);
    std::copy_n(self->bytes->begin() + ptrdiff_t(self->position), count, buffer);
    self->position += count;
    return count;
  }
};

class Unpack : public ::testing::Test {
protected:
  // Decodes one entry; the output has room for `capacity` bytes (default: the
  // unpacked size) and holds a non-zero pattern before, as a fresh heap
  // block may.
  Bytes run(const Bytes& packed, size_t unpackedSize, bool continues = false,
            std::optional<size_t> capacity = std::nullopt) {
    MemorySource source{&packed};
    Bytes out = patterned(capacity.value_or(unpackedSize));
    UnpackOutput output{out.data(), out.size(), 0};
    unpacker->unpackEntry(window.data(), continues, unpackedSize,
                          PackedSource{MemorySource::read, &source}, output);
    out.resize(output.delivered);
    return out;
  }

  // Decodes one entry into an output that starts empty and grows on request
  // up to `limit` bytes; counts the requests.
  Bytes runGrowing(const Bytes& packed, size_t unpackedSize, size_t limit, int& requests) {
    struct Growing {
      Bytes bytes;
      size_t limit;
      int requests = 0;
    } growing{Bytes{}, limit};
    const auto grow = [](UnpackOutput& output, size_t needed, void* context) {
      auto& self = *static_cast<Growing*>(context);
      ++self.requests;
      if (needed > self.limit)
        return false;
      self.bytes.resize(std::clamp(self.bytes.size() * 3 / 2, needed, self.limit), 0x5A);
      output.data = self.bytes.data();
      output.capacity = self.bytes.size();
      return true;
    };
    MemorySource source{&packed};
    growing.bytes.reserve(1); // a non-null start
    UnpackOutput output{growing.bytes.data(), 0, 0, grow, &growing};
    unpacker->unpackEntry(window.data(), false, unpackedSize,
                          PackedSource{MemorySource::read, &source}, output);
    requests = growing.requests;
    growing.bytes.resize(output.delivered);
    return growing.bytes;
  }

  static Bytes patterned(size_t size) {
    Bytes bytes(size);
    for (size_t i = 0; i < size; ++i)
      bytes[i] = uint8_t(0x80 | (i * 7)); // never 0
    return bytes;
  }

  std::unique_ptr<Unpacker> unpacker = std::make_unique<Unpacker>();
  // A new stream takes the window as it is: it starts with other bytes.
  std::vector<uint8_t> window = patterned(kUnpackWindowSize);
};

TEST_F(Unpack, LiteralsAndAnOverlappingMatch) {
  StreamWriter s;
  s.lzTables();
  s.literal('a');
  s.literal('b');
  s.match(2, 0, 0, 0); // length 2 + 3 = 5, distance 0 + 1 = 1
  EXPECT_EQ(bytesOf("abbbbbb"), run(s.finish(), 7));
  EXPECT_FALSE(unpacker->inputOverrun());
}

// Symbol 256 repeats the last match and records its distance once more:
// afterwards the second most recent distance is that one too.
TEST_F(Unpack, RepeatLastMatchRecordsTheDistanceAgain) {
  StreamWriter s;
  s.lzTables();
  for (char c : std::string("xyz"))
    s.literal(uint8_t(c));
  s.match(0, 0, 2, 0);              // length 3, distance 3
  s.symbol(kSymbolRepeatLast);      // length 3, distance 3 again
  s.symbol(kSymbolRecentFirst + 1); // the distance before the last one: 3
  s.lengthSlot(0, 0);               // length 0 + 2
  EXPECT_EQ(bytesOf("xyzxyzxyzxy"), run(s.finish(), 11));
}

// After a recent-distance symbol the length grows by one at 0x101, two at
// 0x2000 and three at 0x40000.
TEST_F(Unpack, RecentDistanceLengthBonus) {
  struct Case {
    uint32_t distanceSlot, extra, distance, bonus;
  };
  for (const Case c : {Case{16, 0, 257, 1}, Case{16, 0x7F, 256 + 0x7F + 1, 1},
                       Case{26, 0, 0x2001, 2}, Case{36, 0, 0x40001, 3}, Case{15, 63, 256, 0}}) {
    StreamWriter s;
    s.lzTables();
    for (int i = 0; i < 300; ++i)
      s.literal(uint8_t(i * 13));
    s.match(0, 0, c.distanceSlot, c.extra); // length 3 (+1 at 0x2000, +1 at 0x40000)
    const uint32_t matchLength = 3 + (c.distance >= 0x2000) + (c.distance >= 0x40000);
    s.symbol(kSymbolRecentFirst); // the last distance
    s.lengthSlot(0, 0);
    const size_t expectedSize = 300 + matchLength + 2 + c.bonus;
    const Bytes out = run(s.finish(), expectedSize);
    ASSERT_EQ(expectedSize, out.size()) << c.distance;
    Bytes expected(window.size()); // the window as a plain history, for checking the copies
    Bytes history;
    for (int i = 0; i < 300; ++i)
      history.push_back(uint8_t(i * 13));
    auto copy = [&](uint32_t length) {
      for (uint32_t k = 0; k < length; ++k) {
        const int64_t from = int64_t(history.size()) - c.distance;
        history.push_back(from >= 0 ? history[size_t(from)] : 0);
      }
    };
    copy(matchLength);
    copy(2 + c.bonus);
    EXPECT_EQ(history, out) << c.distance;
  }
}

TEST_F(Unpack, ShortMatches) {
  StreamWriter s;
  s.lzTables();
  for (char c : std::string("abcdefgh"))
    s.literal(uint8_t(c));
  s.symbol(kSymbolShortFirst);     // distance 0 + 1 + 2 bits
  s.bits.put(3, 2);                // distance 4
  s.symbol(kSymbolShortFirst + 1); // distance 4 + 1 + 2 bits
  s.bits.put(0, 2);                // distance 5
  EXPECT_EQ(bytesOf("abcdefgheffg"), run(s.finish(), 12));
}

// A stream that switches tables mid-entry, to audio mode and back.
TEST_F(Unpack, TableSwitchesAndAudioChannels) {
  StreamWriter s;
  s.lzTables();
  s.literal('L');
  s.symbol(kSymbolNewTables);
  s.audioTables(3);
  // Channel 0 gets delta 1 (sample -1 = 0xFF); the others 0; then channel 0
  // again predicts its last sample.
  for (uint32_t delta : {1, 0, 0, 0})
    s.audio(delta);
  s.audio(kAudioSymbolNewTables); // channel 1 is current: out of range for one channel
  s.audioTables(1);
  s.audio(0);
  s.audio(kAudioSymbolNewTables);
  s.lzTables();
  s.literal('Z');
  EXPECT_EQ((Bytes{'L', 0xFF, 0x00, 0x00, 0xFF, 0xFF, 'Z'}), run(s.finish(), 7));
}

// Entries over 1 MiB: the window wraps and fills several times; pieces of the
// output are delivered as it fills and equal the whole.
TEST_F(Unpack, LargeEntryWrapsTheWindow) {
  StreamWriter s;
  s.lzTables();
  const std::string seed = "0123456789";
  for (char c : seed)
    s.literal(uint8_t(c));
  s.match(27, 31, 6, 1); // length 224 + 3 + 31 = 258, distance 8 + 1 + 1 = 10
  const size_t repeats = 3 * kWindowSize / 258;
  for (size_t i = 0; i < repeats; ++i)
    s.symbol(kSymbolRepeatLast);
  const size_t size = seed.size() + 258 * (repeats + 1);
  const Bytes out = run(s.finish(), size);
  ASSERT_EQ(size, out.size());
  for (size_t i = 0; i < size; ++i)
    ASSERT_EQ(uint8_t('0' + i % 10), out[i]) << i;
}

// Distances at and just below the window size: the source lies up to a block
// ahead of the destination in the window, so the copy overlaps forwards. Each
// output byte must still be the one `distance` bytes back in the output.
TEST_F(Unpack, DistancesNextToTheWindowSize) {
  StreamWriter s;
  s.lzTables();
  std::mt19937 random(11);
  Bytes expected;
  for (size_t i = 0; i < kWindowSize + 100; ++i) {
    expected.push_back(uint8_t(random()));
    s.literal(expected.back());
  }
  constexpr uint32_t kLastSlot = kDistanceSymbols - 1;
  const uint32_t slotTop = kDistanceBase[kLastSlot] + (1u << kDistanceExtraBits[kLastSlot]);
  for (uint32_t below = 0; below <= 33; ++below) {
    const uint32_t distance = kWindowSize - below;
    const uint32_t lengthSlot = 8 + below % 12;
    s.match(lengthSlot, 0, kLastSlot, distance - 1 - kDistanceBase[kLastSlot]);
    ASSERT_LE(distance, slotTop);
    // Both long-distance bonuses apply.
    const uint32_t length = kLengthBase[lengthSlot] + 3 + 2;
    for (uint32_t i = 0; i < length; ++i)
      expected.push_back(expected[expected.size() - distance]);
    s.literal(uint8_t(below));
    expected.push_back(uint8_t(below));
  }
  const Bytes out = run(s.finish(), expected.size());
  ASSERT_EQ(expected.size(), out.size());
  for (size_t i = kWindowSize; i < out.size(); ++i)
    ASSERT_EQ(expected[i], out[i]) << "at " << i;
}

// A stream written with fixed-length codes and decoded by the model alongside.
struct ModelStream {
  StreamWriter s;
  ByteModel& model;

  void literals(size_t count, std::mt19937& random) {
    for (size_t i = 0; i < count; ++i) {
      const uint8_t byte = uint8_t(random());
      s.literal(byte);
      model.literal(byte);
    }
  }
  // A recent distance (`back` 1 to 4) with the longest length slot: 257 bytes
  // before any bonus.
  void recent(uint32_t back) {
    s.symbol(kSymbolRepeatLast + back);
    s.lengthSlot(27, 31);
    model.recentMatch(back, 257);
  }
  void repeatLast() {
    s.symbol(kSymbolRepeatLast);
    model.repeatLast();
  }
};

// A recent distance or a repeat before four matches asks for distance 0,
// which is one whole window (1 MiB) back, as in the model: zeros within the
// first window of a stream, the byte a window back after that.
// Decoded straight into an output that holds other bytes, through the window
// (after an audio block, which the window decodes), and in a solid entry that
// continues past 1 MiB, kept or discarded.
TEST_F(Unpack, DistanceZeroIsOneWindowBack) {
  for (const bool throughWindow : {false, true}) {
    std::mt19937 random(21);
    ByteModel model;
    ModelStream m{{}, model};
    m.s.lzTables();
    if (throughWindow) {
      m.s.symbol(kSymbolNewTables);
      m.s.audioTables(2);
      model.audioTables(2);
      for (uint8_t delta : {3, 250, 7}) {
        m.s.audio(delta);
        model.audio(delta);
      }
      m.s.audio(kAudioSymbolNewTables);
      m.s.lzTables();
    }
    m.literals(100, random);
    m.recent(1);
    m.repeatLast();
    m.recent(4);
    m.literals(kWindowSize + 1000, random);
    m.recent(2);
    m.literals(10, random);
    m.repeatLast();
    m.recent(3);
    m.literals(300, random);
    const Bytes out = run(m.s.finish(), model.out.size());
    ASSERT_EQ(model.out.size(), out.size()) << throughWindow;
    EXPECT_FALSE(unpacker->inputOverrun());
    for (size_t i = 0; i < out.size(); ++i)
      ASSERT_EQ(model.out[i], out[i]) << "at " << i << (throughWindow ? " through the window" : "");
  }

  for (const bool discardFirst : {false, true}) {
    std::mt19937 random(22);
    ByteModel model;
    ModelStream first{{}, model};
    first.s.lzTables();
    first.literals(kWindowSize + kWindowSize / 2, random);
    const Bytes firstStream = first.s.finish();
    MemorySource source{&firstStream};
    Bytes firstOut = patterned(model.out.size());
    UnpackOutput output{discardFirst ? nullptr : firstOut.data(), firstOut.size(), 0};
    unpacker->unpackEntry(window.data(), false, firstOut.size(),
                          PackedSource{MemorySource::read, &source}, output);
    ASSERT_TRUE(discardFirst || model.out == firstOut);

    const size_t firstSize = model.out.size();
    ModelStream second{{}, model}; // no tables of its own
    second.recent(1);
    second.literals(5, random);
    second.repeatLast();
    second.recent(3);
    const Bytes expected(model.out.begin() + ptrdiff_t(firstSize), model.out.end());
    EXPECT_EQ(expected, run(second.s.finish(), expected.size(), true)) << discardFirst;
  }
}

TEST_F(Unpack, SolidEntryContinuesWithWindowTablesAndDistances) {
  StreamWriter first;
  first.lzTables();
  for (char c : std::string("solid"))
    first.literal(uint8_t(c));
  first.match(2, 0, 4, 0); // length 5, distance 4 + 1 = 5
  ASSERT_EQ(bytesOf("solidsolid"), run(first.finish(), 10));

  StreamWriter second; // no tables of its own
  second.symbol(kSymbolRepeatLast);
  second.literal('!');
  EXPECT_EQ(bytesOf("solid!"), run(second.finish(), 6, true));
}

// A solid entry reaches up to a window back into a large first entry, whether
// that entry was decoded into its output or, discarded, through the window only.
TEST_F(Unpack, SolidEntryReachesAWindowBackIntoALargeEntry) {
  std::mt19937 random(12);
  Bytes history;
  StreamWriter first;
  first.lzTables();
  for (size_t i = 0; i < 2 * kWindowSize + 12345; ++i) {
    history.push_back(uint8_t(random()));
    first.literal(history.back());
  }
  const Bytes firstStream = first.finish();

  StreamWriter second; // no tables of its own
  constexpr uint32_t kLastSlot = kDistanceSymbols - 1;
  const size_t firstSize = history.size();
  for (const uint32_t distance : {kWindowSize, kWindowSize - 7, 70000u}) {
    const uint32_t slot = distance > kDistanceBase[kLastSlot] ? kLastSlot : 32; // 32: from 65537
    second.match(10, 1, slot, distance - 1 - kDistanceBase[slot]);
    const uint32_t length = kLengthBase[10] + 1 + 3 + 1 + (distance >= 0x40000);
    for (uint32_t i = 0; i < length; ++i)
      history.push_back(history[history.size() - distance]);
  }
  second.literal('!');
  history.push_back('!');
  const Bytes secondStream = second.finish();
  const Bytes expected(history.begin() + ptrdiff_t(firstSize), history.end());

  for (const bool discardFirst : {false, true}) {
    MemorySource source{&firstStream};
    Bytes out(firstSize);
    UnpackOutput output{discardFirst ? nullptr : out.data(), out.size(), 0};
    unpacker->unpackEntry(window.data(), false, firstSize,
                          PackedSource{MemorySource::read, &source}, output);
    EXPECT_EQ(discardFirst ? 0 : firstSize, output.delivered);
    EXPECT_TRUE(discardFirst || std::equal(out.begin(), out.end(), history.begin()));
    EXPECT_EQ(expected, run(secondStream, expected.size(), true)) << discardFirst;
  }
}

// The end-of-entry peek reads a table switch that follows the last symbol, so
// the next solid entry starts with the new tables.
TEST_F(Unpack, TableSwitchAfterTheLastSymbol) {
  StreamWriter first;
  first.lzTables();
  first.literal('a');
  first.symbol(kSymbolNewTables);
  first.audioTables(1);
  ASSERT_EQ(bytesOf("a"), run(first.finish(), 1));

  StreamWriter second;
  second.audio(1);
  EXPECT_EQ(Bytes{0xFF}, run(second.finish(), 1, true));
}

TEST_F(Unpack, EmptyEntryReadsTablesOnly) {
  StreamWriter s;
  s.lzTables();
  EXPECT_EQ(Bytes{}, run(s.finish(), 0));
  EXPECT_FALSE(unpacker->inputOverrun());
}

// A stream that ends while more output is wanted stops at the end of its
// input, whatever the stale bytes behind it would decode to.
TEST_F(Unpack, ExhaustedInputEndsDecoding) {
  StreamWriter s;
  s.lzTables();
  s.literal('a');
  for (int i = 0; i < 40; ++i) {
    s.symbol(kSymbolNewTables);
    s.lzTables();
  }
  const Bytes out = run(s.finish(), 1u << 30, false, 64);
  EXPECT_TRUE(unpacker->inputOverrun());
  EXPECT_LE(out.size(), 64u);
  EXPECT_EQ('a', out.at(0));

  // No input at all.
  run(Bytes{}, 1000);
  EXPECT_TRUE(unpacker->inputOverrun());
}

TEST_F(Unpack, OutputThatWouldOverflowStopsDecoding) {
  StreamWriter s;
  s.lzTables();
  s.literal('a');
  s.match(27, 31, 0, 0); // 258 bytes: more than the unpacked size
  const Bytes out = run(s.finish(), 10);
  EXPECT_LE(out.size(), 10u);
}

// An output that grows as the bytes come gets what a full-sized one gets,
// across the window's wraps and audio blocks; one that stops growing stops
// the decoding there.
TEST_F(Unpack, GrowingOutputGetsTheSameBytes) {
  StreamWriter s;
  s.lzTables();
  for (char c : std::string("0123456789"))
    s.literal(uint8_t(c));
  s.match(27, 31, 6, 1); // length 258, distance 10
  for (size_t i = 0; i < 2 * kWindowSize / 258; ++i)
    s.symbol(kSymbolRepeatLast);
  s.symbol(kSymbolNewTables);
  s.audioTables(2);
  for (uint32_t delta = 0; delta < 600; ++delta)
    s.audio(delta % 7);
  s.audio(kAudioSymbolNewTables);
  s.lzTables();
  s.literal('Z');
  const Bytes packed = s.finish();
  const size_t size = 10 + 258 * (2 * kWindowSize / 258 + 1) + 600 + 1;

  const Bytes whole = run(packed, size);
  ASSERT_EQ(size, whole.size());
  int requests = 0;
  EXPECT_EQ(whole, runGrowing(packed, size, size, requests));
  EXPECT_GT(requests, 10);

  const Bytes cut = runGrowing(packed, size, 100000, requests);
  ASSERT_LE(cut.size(), 100000u);
  EXPECT_TRUE(std::equal(cut.begin(), cut.end(), whole.begin()));
}

// Random code lengths up to 15 bits, some symbols without a code; shortened
// until the code is a prefix code (possibly an incomplete one).
std::vector<uint8_t> randomCodeLengths(std::mt19937& random, size_t count) {
  std::vector<uint8_t> lengths(count);
  const uint32_t longest = 1 + random() % 15;
  for (uint8_t& length : lengths)
    length = uint8_t(random() % 4 == 0 ? 0 : 1 + random() % longest);
  const auto kraft = [&] {
    uint64_t sum = 0;
    for (uint8_t length : lengths)
      sum += length ? 1u << (15 - length) : 0;
    return sum;
  };
  while (kraft() > 1u << 15) {
    uint8_t& length = lengths[random() % count];
    if (length != 0 && length < 15)
      ++length;
  }
  return lengths;
}

// The canonical walk of the format, over every length: the symbol and its length.
std::pair<uint32_t, uint32_t> walkCode(const std::vector<uint8_t>& lengths, uint32_t bits16) {
  uint32_t count[16] = {}, limit[16] = {}, position[16] = {};
  for (uint8_t length : lengths)
    ++count[length & 15];
  std::vector<uint32_t> sorted;
  for (uint32_t length = 1, code = 0; length < 16; ++length) {
    code = 2 * (code + count[length]);
    limit[length] = std::min<uint32_t>(code << (15 - length), 0xFFFF);
    position[length] = position[length - 1] + (length > 1 ? count[length - 1] : 0);
    for (size_t symbol = 0; symbol < lengths.size(); ++symbol)
      if ((lengths[symbol] & 15) == length)
        sorted.push_back(uint32_t(symbol));
  }
  sorted.resize(lengths.size(), 0);
  const uint32_t bits = bits16 & 0xFFFE;
  uint32_t length = 1;
  while (length < 15 && bits >= limit[length])
    ++length;
  uint32_t index = ((bits - limit[length - 1]) >> (16 - length)) + position[length];
  return {sorted[index < lengths.size() ? index : 0], length};
}

// One lookup (or the walk, for codes longer than it resolves) must decode
// every code as the format's walk does, over-subscribed and incomplete codes
// included; entries of numbers add the extra bits to the symbol's base.
TEST(DecodeTable, LookupAgreesWithTheCanonicalWalk) {
  constexpr uint32_t kAlphabet = 48;
  SymbolEntry plain[kAlphabet], numbers[kAlphabet];
  for (uint32_t symbol = 0; symbol < kAlphabet; ++symbol) {
    plain[symbol] = symbolEntry(symbol);
    numbers[symbol] = symbolEntry(1000 * symbol, symbol % 5, kEntryFieldBits);
  }
  std::mt19937 random(7);
  auto plainTable = std::make_unique<DecodeTable<8, kAlphabet>>();
  auto numberTable = std::make_unique<DecodeTable<8, kAlphabet>>();
  for (int round = 0; round < 300; ++round) {
    std::vector<uint8_t> lengths(kAlphabet);
    const uint32_t longest = 1 + random() % 15;
    for (uint8_t& length : lengths)
      length = uint8_t(random() % 3 == 0 ? 0 : 1 + random() % longest);
    if (round % 2 == 0)
      lengths = randomCodeLengths(random, kAlphabet);
    plainTable->build(lengths.data(), plain);
    numberTable->build(lengths.data(), numbers);
    for (uint32_t code = 0; code < 0x10000; code += 0x11) {
      const uint64_t bits = uint64_t(code) << 48 | (uint64_t(random()) << 16);
      const auto [symbol, length] = walkCode(lengths, code);
      const uint32_t entry = plainTable->lookup(bits);
      ASSERT_EQ(symbol, entryField(entry)) << round << " " << code;
      ASSERT_EQ(length, entryBits(entry)) << round << " " << code;
      const uint32_t extraBits = symbol % 5;
      const uint32_t number = numberTable->lookup(bits);
      ASSERT_EQ(length + extraBits, entryBits(number));
      const uint32_t extra = uint32_t(bits << length >> 1 >> (63 - extraBits));
      ASSERT_EQ(1000 * symbol + extra, entryNumber<kEntryFieldBits>(number, bits));
    }
  }
}

// Streams of random symbols under random codes (codes up to 15 bits, some
// symbols without one, table switches on the way), long enough to wrap the
// window and flush several times: the decoder's output equals the model's.
TEST_F(Unpack, RandomStreamsDecodeLikeAByteByByteModel) {
  std::mt19937 random(17);
  for (int round = 0; round < 6; ++round) {
    StreamWriter s;
    ByteModel model;
    std::vector<uint8_t> literalLengths, distanceLengths, lengthLengths;
    std::vector<uint32_t> literalCodes, distanceCodes, lengthCodes;
    const auto newTables = [&] {
      literalLengths = randomCodeLengths(random, kLiteralSymbols);
      distanceLengths = randomCodeLengths(random, kDistanceSymbols);
      lengthLengths = randomCodeLengths(random, kLengthSymbols);
      literalCodes = canonicalCodes(literalLengths);
      distanceCodes = canonicalCodes(distanceLengths);
      lengthCodes = canonicalCodes(lengthLengths);
      s.bits.put(0b00, 2);
      for (uint32_t i = 0; i < kBitLengthSymbols; ++i)
        s.bits.put(5, 4);
      for (const auto* lengths : {&literalLengths, &distanceLengths, &lengthLengths})
        for (uint8_t length : *lengths)
          s.bits.put(length, 5);
    };
    // A random symbol that has a code, from the first `count` after `first`.
    const auto pick = [&](const std::vector<uint8_t>& lengths, uint32_t first, uint32_t count) {
      for (;;) {
        const uint32_t symbol = first + uint32_t(random() % count);
        if (lengths[symbol] != 0)
          return symbol;
      }
    };
    const auto put = [&](const std::vector<uint32_t>& codes, const std::vector<uint8_t>& lengths,
                         uint32_t symbol) { s.bits.put(codes[symbol], lengths[symbol]); };
    const auto putExtra = [&](uint32_t bits) {
      const uint32_t value = bits ? uint32_t(random()) & ((1u << bits) - 1) : 0;
      s.bits.put(value, bits);
      return value;
    };

    newTables();
    const size_t target = round < 2 ? 3 * kWindowSize : 200000;
    while (model.out.size() < target) {
      const uint32_t kind = random() % 16;
      if (kind < 6) {
        const uint32_t literal = pick(literalLengths, 0, 256);
        put(literalCodes, literalLengths, literal);
        model.out.push_back(uint8_t(literal));
      } else if (kind < 11) {
        const uint32_t symbol = pick(literalLengths, kSymbolMatchFirst, kLengthSymbols);
        put(literalCodes, literalLengths, symbol);
        const uint32_t slot = symbol - kSymbolMatchFirst;
        const uint32_t length = kLengthBase[slot] + 3 + putExtra(kLengthExtraBits[slot]);
        // Near distances mostly; some of the farthest slot, up to the window's size.
        const uint32_t distanceSlot = random() % 4 == 0 ? pick(distanceLengths, 0, kDistanceSymbols)
                                                        : pick(distanceLengths, 0, 16);
        put(distanceCodes, distanceLengths, distanceSlot);
        const uint32_t distance =
            kDistanceBase[distanceSlot] + 1 + putExtra(kDistanceExtraBits[distanceSlot]);
        model.match(length, distance);
      } else if (kind < 13) {
        const uint32_t symbol = pick(literalLengths, kSymbolShortFirst, 8);
        put(literalCodes, literalLengths, symbol);
        const uint32_t slot = symbol - kSymbolShortFirst;
        model.copy(2, kShortDistanceBase[slot] + 1 + putExtra(kShortDistanceExtraBits[slot]));
      } else if (kind < 15) {
        const uint32_t symbol = pick(literalLengths, kSymbolRecentFirst, 4);
        put(literalCodes, literalLengths, symbol);
        const uint32_t slot = pick(lengthLengths, 0, kLengthSymbols);
        put(lengthCodes, lengthLengths, slot);
        const uint32_t length = kLengthBase[slot] + 2 + putExtra(kLengthExtraBits[slot]);
        model.recentMatch(symbol - kSymbolRepeatLast, length);
      } else if (random() % 64 == 0 && literalLengths[kSymbolNewTables] != 0) {
        put(literalCodes, literalLengths, kSymbolNewTables);
        newTables();
      } else if (literalLengths[kSymbolRepeatLast] != 0) {
        put(literalCodes, literalLengths, kSymbolRepeatLast);
        model.repeatLast();
      }
    }
    const Bytes out = run(s.finish(), model.out.size());
    ASSERT_FALSE(unpacker->inputOverrun()) << round;
    ASSERT_EQ(model.out.size(), out.size()) << round;
    for (size_t i = 0; i < out.size(); ++i)
      ASSERT_EQ(model.out[i], out[i]) << "round " << round << " at " << i;
  }
}

} // namespace
