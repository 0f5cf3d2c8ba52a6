#include "archive/crc32.h"

#if defined(__x86_64__)
#include <immintrin.h>
#endif

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

namespace {

uint32_t crc32BySlices(uint32_t crc, const uint8_t* p, size_t count) {
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

#if defined(__x86_64__)
// Carry-less multiplication folds the message 16 bytes at a time: a 128-bit
// remainder x followed by n more bytes b has the CRC of
//   x.low * (x^(8n+32) mod P) + x.high * (x^(8n-32) mod P) + b
// (bit-reflected constants), so a 128-bit value whose CRC from a zero
// register equals the CRC of everything folded so far can be carried along.
// The register's start value enters as an xor into the first four bytes.
// Four such values, 64 bytes apart, fold in parallel, since each fold waits
// for the multiplication before it; they then fold into one, which takes the
// remaining 16-byte blocks. The last 128-bit value and the tail go through
// the slice tables.
constexpr size_t kFoldMinimum = 64;

using Fold = __m128i;

__attribute__((target("pclmul,sse2"))) inline Fold foldInto(Fold x, Fold constants, Fold b) {
  const Fold low = _mm_clmulepi64_si128(x, constants, 0x00);
  const Fold high = _mm_clmulepi64_si128(x, constants, 0x11);
  return _mm_xor_si128(_mm_xor_si128(low, high), b);
}

__attribute__((target("pclmul,sse2"))) inline Fold loadBlock(const uint8_t* p) {
  return _mm_loadu_si128(reinterpret_cast<const Fold*>(p));
}

__attribute__((target("pclmul,sse2"))) uint32_t crc32ByFolding(uint32_t crc, const uint8_t* p,
                                                               size_t count) {
  const Fold over16 = _mm_set_epi64x(0x0ccaa009e, 0x1751997d0); // x^96, x^160
  const Fold over64 = _mm_set_epi64x(0x1c6e41596, 0x154442bd4); // x^480, x^544
  Fold folded[4] = {_mm_xor_si128(loadBlock(p), _mm_cvtsi32_si128(static_cast<int>(crc))),
                    loadBlock(p + 16), loadBlock(p + 32), loadBlock(p + 48)};
  p += 64;
  count -= 64;
  for (; count >= 64; p += 64, count -= 64)
    for (int i = 0; i < 4; ++i)
      folded[i] = foldInto(folded[i], over64, loadBlock(p + 16 * i));
  Fold one = folded[0];
  for (int i = 1; i < 4; ++i)
    one = foldInto(one, over16, folded[i]);
  for (; count >= 16; p += 16, count -= 16)
    one = foldInto(one, over16, loadBlock(p));
  uint8_t remainder[16];
  _mm_storeu_si128(reinterpret_cast<Fold*>(remainder), one);
  return crc32BySlices(crc32BySlices(0, remainder, sizeof remainder), p, count);
}

const bool kHaveCarrylessMultiply = __builtin_cpu_supports("pclmul");
#endif

} // namespace

uint32_t crc32Update(uint32_t crc, const void* bytes, size_t count) {
  const auto* p = static_cast<const uint8_t*>(bytes);
#if defined(__x86_64__)
  if (count >= kFoldMinimum && kHaveCarrylessMultiply)
    return crc32ByFolding(crc, p, count);
#endif
  return crc32BySlices(crc, p, count);
}
