#include "archive/crc32.h"

#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <vector>

namespace {

// The definition, one bit at a time.
uint32_t crcBitByBit(uint32_t crc, const uint8_t* p, size_t count) {
  while (count-- > 0) {
    crc ^= *p++;
    for (int bit = 0; bit < 8; ++bit)
      crc = (crc & 1) ? (crc >> 1) ^ 0xEDB88320u : crc >> 1;
  }
  return crc;
}

TEST(Crc32, CheckValue) {
  const char* text = "123456789";
  EXPECT_EQ(~crc32Update(0xFFFFFFFFu, text, std::strlen(text)), 0xCBF43926u);
  EXPECT_EQ(crc32Update(0x12345678u, text, 0), 0x12345678u);
}

// Every length from empty to a few kilobytes, at every alignment, from
// arbitrary registers: the table, slice and folding paths must agree.
TEST(Crc32, AllPathsAgreeWithTheDefinition) {
  std::mt19937 random(5);
  std::vector<uint8_t> data(4200);
  for (uint8_t& byte : data)
    byte = static_cast<uint8_t>(random());
  for (size_t offset = 0; offset < 17; ++offset)
    for (size_t count = 0; count + offset <= data.size(); count += count < 300 ? 1 : 97) {
      const uint32_t start = random();
      ASSERT_EQ(crc32Update(start, data.data() + offset, count),
                crcBitByBit(start, data.data() + offset, count))
          << "offset " << offset << ", " << count << " bytes";
    }
}

TEST(Crc32, PiecesGiveTheSameAsTheWhole) {
  std::vector<uint8_t> data(100000);
  for (size_t i = 0; i < data.size(); ++i)
    data[i] = static_cast<uint8_t>(i * 131 + (i >> 7));
  const uint32_t whole = crc32Update(0xFFFFFFFFu, data.data(), data.size());
  uint32_t pieces = 0xFFFFFFFFu;
  for (size_t at = 0, piece = 1; at < data.size(); at += piece, piece = piece * 3 % 1000 + 1)
    pieces = crc32Update(pieces, data.data() + at, std::min(piece, data.size() - at));
  EXPECT_EQ(pieces, whole);
}

} // namespace
