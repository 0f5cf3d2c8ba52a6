// The encoder's building blocks: slot lookups, length-limited Huffman codes.
#include "pack/huffman.h"
#include "pack/match_coding.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>

using namespace pack;

namespace {

TEST(StreamFormat, EveryDistanceMapsToItsSlot) {
  for (uint32_t distance = 1; distance <= kWindowSize; ++distance) {
    const Slot slot = distanceSlot(distance);
    ASSERT_LT(slot.slot, int(kDistanceSymbols));
    ASSERT_EQ(slot.extraBits, kDistanceExtraBits[slot.slot]);
    ASSERT_LT(uint64_t{slot.extraValue}, uint64_t{1} << slot.extraBits) << distance;
    ASSERT_EQ(kDistanceBase[slot.slot] + 1 + slot.extraValue, distance);
  }
}

TEST(StreamFormat, EveryLengthAndShortDistanceMapsToItsSlot) {
  for (uint32_t value = 0; value < 256; ++value) {
    const Slot slot = lengthSlot(value);
    ASSERT_LT(slot.extraValue, 1u << slot.extraBits);
    ASSERT_EQ(kLengthBase[slot.slot] + slot.extraValue, value);
  }
  for (uint32_t distance = 1; distance <= 256; ++distance) {
    const Slot slot = shortDistanceSlot(distance);
    ASSERT_LT(slot.extraValue, 1u << slot.extraBits);
    ASSERT_EQ(kShortDistanceBase[slot.slot] + 1 + slot.extraValue, distance);
  }
}

double kraftSum(const std::vector<uint8_t>& lengths) {
  double sum = 0;
  for (uint8_t length : lengths)
    if (length > 0)
      sum += std::ldexp(1.0, -length);
  return sum;
}

TEST(Huffman, SkewedFrequenciesStayWithinTheLimitAndComplete) {
  // Fibonacci frequencies would need codes as long as the alphabet.
  std::vector<uint32_t> frequencies(40);
  frequencies[0] = frequencies[1] = 1;
  for (size_t i = 2; i < frequencies.size(); ++i)
    frequencies[i] = frequencies[i - 1] + frequencies[i - 2];
  frequencies.insert(frequencies.end(), {0, 0, 5});
  const auto lengths = limitedCodeLengths(frequencies, 15);
  EXPECT_EQ(*std::max_element(lengths.begin(), lengths.end()), 15);
  EXPECT_DOUBLE_EQ(kraftSum(lengths), 1.0);
  EXPECT_EQ(lengths[40], 0);
  EXPECT_EQ(lengths[41], 0);
  EXPECT_GT(lengths[42], 0);
}

TEST(Huffman, UnlimitedCaseMatchesPlainHuffmanCost) {
  const std::vector<uint32_t> frequencies = {45, 13, 12, 16, 9, 5};
  const auto lengths = limitedCodeLengths(frequencies, 15);
  // The textbook example: an optimal code costs 224 bits.
  uint64_t cost = 0;
  for (size_t i = 0; i < frequencies.size(); ++i)
    cost += uint64_t{frequencies[i]} * lengths[i];
  EXPECT_EQ(cost, 224u);
  EXPECT_DOUBLE_EQ(kraftSum(lengths), 1.0);
}

TEST(Huffman, DegenerateAlphabets) {
  EXPECT_EQ(limitedCodeLengths(std::vector<uint32_t>{0, 0, 0}, 15),
            (std::vector<uint8_t>{0, 0, 0}));
  EXPECT_EQ(limitedCodeLengths(std::vector<uint32_t>{0, 9, 0}, 15),
            (std::vector<uint8_t>{0, 1, 0}));
  // Equal frequencies in a full alphabet give equal lengths.
  const auto lengths = limitedCodeLengths(std::vector<uint32_t>(256, 3), 15);
  EXPECT_TRUE(std::all_of(lengths.begin(), lengths.end(), [](uint8_t l) { return l == 8; }));
}

TEST(Huffman, CanonicalCodesAreOrderedByLengthThenSymbol) {
  const std::vector<uint8_t> lengths = {3, 0, 2, 3, 2, 2};
  const auto codes = canonicalCodes(lengths);
  // Length 2: symbols 2, 4, 5 get 00, 01, 10; length 3: symbols 0, 3 get 110, 111.
  EXPECT_EQ(codes[2], 0b00);
  EXPECT_EQ(codes[4], 0b01);
  EXPECT_EQ(codes[5], 0b10);
  EXPECT_EQ(codes[0], 0b110);
  EXPECT_EQ(codes[3], 0b111);
}

} // namespace
