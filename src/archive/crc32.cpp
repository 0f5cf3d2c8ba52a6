#include "archive/crc32.h"

namespace {

constexpr uint32_t kPolynomial = 0xEDB88320u;

constexpr std::array<uint32_t, 256> makeCrc32Table() {
  std::array<uint32_t, 256> table{};
  for (uint32_t i = 0; i < 256; ++i) {
    uint32_t value = i;
    for (int bit = 0; bit < 8; ++bit)
      value = (value & 1) ? (value >> 1) ^ kPolynomial : value >> 1;
    table[i] = value;
  }
  return table;
}

// Tables for eight bytes at a time: slice[k][b] is the register after byte b
// followed by k zero bytes. The result equals the byte-by-byte loop.
using SliceTables = std::array<std::array<uint32_t, 256>, 8>;

constexpr SliceTables makeSliceTables(const std::array<uint32_t, 256>& base) {
  SliceTables slices{};
  slices[0] = base;
  for (int k = 1; k < 8; ++k)
    for (int b = 0; b < 256; ++b)
      slices[k][b] = (slices[k - 1][b] >> 8) ^ base[slices[k - 1][b] & 0xFF];
  return slices;
}

constinit const SliceTables kSlices = makeSliceTables(makeCrc32Table());

} // namespace

constinit const std::array<uint32_t, 256> crc32Table = makeCrc32Table();

uint32_t crc32Update(uint32_t crc, const void* bytes, size_t count) {
  const auto* p = static_cast<const uint8_t*>(bytes);
  while (count >= 8) {
    const uint32_t low =
        crc ^ (uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24);
    crc = kSlices[7][low & 0xFF] ^ kSlices[6][(low >> 8) & 0xFF] ^ kSlices[5][(low >> 16) & 0xFF] ^
          kSlices[4][low >> 24] ^ kSlices[3][p[4]] ^ kSlices[2][p[5]] ^ kSlices[1][p[6]] ^
          kSlices[0][p[7]];
    p += 8;
    count -= 8;
  }
  while (count-- > 0)
    crc = crc32Table[(crc ^ *p++) & 0xFF] ^ (crc >> 8);
  return crc;
}
