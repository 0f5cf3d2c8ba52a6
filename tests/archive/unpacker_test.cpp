// The decompressor on streams written by hand with fixed-length codes.
#include "archive/unpacker.h"
#include "archive_test_support.h"

#include <gtest/gtest.h>
#include <memory>
#include <random>

using namespace archive_test;

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
  // Decodes one entry; the output has room for `capacity` bytes (default: the unpacked size).
  Bytes run(const Bytes& packed, size_t unpackedSize, bool continues = false,
            std::optional<size_t> capacity = std::nullopt) {
    MemorySource source{&packed};
    Bytes out(capacity.value_or(unpackedSize));
    UnpackOutput output{out.data(), out.size(), 0};
    unpacker->unpackEntry(window.data(), continues, unpackedSize,
                          PackedSource{MemorySource::read, &source}, output);
    out.resize(output.delivered);
    return out;
  }

  std::unique_ptr<Unpacker> unpacker = std::make_unique<Unpacker>();
  std::vector<uint8_t> window = std::vector<uint8_t>(kWindowSize);
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

} // namespace
