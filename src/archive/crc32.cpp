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
  // Four variables rather than an array: an array's loop is kept in memory at
  // -O2, and each fold then waits for the store of the one before.
  Fold folded0 = _mm_xor_si128(loadBlock(p), _mm_cvtsi32_si128(static_cast<int>(crc)));
  Fold folded1 = loadBlock(p + 16);
  Fold folded2 = loadBlock(p + 32);
  Fold folded3 = loadBlock(p + 48);
  p += 64;
  count -= 64;
  for (; count >= 64; p += 64, count -= 64) {
    folded0 = foldInto(folded0, over64, loadBlock(p));
    folded1 = foldInto(folded1, over64, loadBlock(p + 16));
    folded2 = foldInto(folded2, over64, loadBlock(p + 32));
    folded3 = foldInto(folded3, over64, loadBlock(p + 48));
  }
  Fold one = foldInto(folded0, over16, folded1);
  one = foldInto(one, over16, folded2);
  one = foldInto(one, over16, folded3);
  for (; count >= 16; p += 16, count -= 16)
    one = foldInto(one, over16, loadBlock(p));
  uint8_t remainder[16];
  _mm_storeu_si128(reinterpret_cast<Fold*>(remainder), one);
  return crc32BySlices(crc32BySlices(0, remainder, sizeof remainder), p, count);
}

// Where the processor multiplies two pairs at once (256-bit VPCLMULQDQ), the
// same with four 256-bit values: eight 16-byte lanes, 128 bytes apart each,
// folded as above, then one by one into a 128-bit value.
constexpr size_t kWideFoldMinimum = 256;

using WideFold = __m256i;

__attribute__((target("vpclmulqdq,avx2"))) inline WideFold
wideFoldInto(WideFold x, WideFold constants, WideFold b) {
  const WideFold low = _mm256_clmulepi64_epi128(x, constants, 0x00);
  const WideFold high = _mm256_clmulepi64_epi128(x, constants, 0x11);
  return _mm256_xor_si256(_mm256_xor_si256(low, high), b);
}

__attribute__((target("vpclmulqdq,avx2"))) inline WideFold loadWideBlock(const uint8_t* p) {
  return _mm256_loadu_si256(reinterpret_cast<const WideFold*>(p));
}

__attribute__((target("vpclmulqdq,avx2,pclmul"))) uint32_t
crc32ByWideFolding(uint32_t crc, const uint8_t* p, size_t count) {
  const WideFold over128 = _mm256_set_epi64x(0x14a7fe880, 0x1e88ef372, 0x14a7fe880,
                                             0x1e88ef372); // x^992, x^1056 in each lane
  const Fold over16 = _mm_set_epi64x(0x0ccaa009e, 0x1751997d0);
  WideFold folded0 =
      _mm256_xor_si256(loadWideBlock(p), _mm256_set_epi32(0, 0, 0, 0, 0, 0, 0, int(crc)));
  WideFold folded1 = loadWideBlock(p + 32);
  WideFold folded2 = loadWideBlock(p + 64);
  WideFold folded3 = loadWideBlock(p + 96);
  p += 128;
  count -= 128;
  for (; count >= 128; p += 128, count -= 128) {
    folded0 = wideFoldInto(folded0, over128, loadWideBlock(p));
    folded1 = wideFoldInto(folded1, over128, loadWideBlock(p + 32));
    folded2 = wideFoldInto(folded2, over128, loadWideBlock(p + 64));
    folded3 = wideFoldInto(folded3, over128, loadWideBlock(p + 96));
  }
  Fold one =
      foldInto(_mm256_castsi256_si128(folded0), over16, _mm256_extracti128_si256(folded0, 1));
  for (const WideFold folded : {folded1, folded2, folded3}) {
    one = foldInto(one, over16, _mm256_castsi256_si128(folded));
    one = foldInto(one, over16, _mm256_extracti128_si256(folded, 1));
  }
  for (; count >= 16; p += 16, count -= 16)
    one = foldInto(one, over16, loadBlock(p));
  uint8_t remainder[16];
  _mm_storeu_si128(reinterpret_cast<Fold*>(remainder), one);
  return crc32BySlices(crc32BySlices(0, remainder, sizeof remainder), p, count);
}

const bool kHaveCarrylessMultiply = __builtin_cpu_supports("pclmul");
const bool kHaveWideCarrylessMultiply = kHaveCarrylessMultiply &&
                                        __builtin_cpu_supports("vpclmulqdq") &&
                                        __builtin_cpu_supports("avx2");
#endif

} // namespace

uint32_t crc32Update(uint32_t crc, const void* bytes, size_t count) {
  const auto* p = static_cast<const uint8_t*>(bytes);
#if defined(__x86_64__)
  if (count >= kWideFoldMinimum && kHaveWideCarrylessMultiply)
    return crc32ByWideFolding(crc, p, count);
  if (count >= kFoldMinimum && kHaveCarrylessMultiply)
    return crc32ByFolding(crc, p, count);
#endif
  return crc32BySlices(crc, p, count);
}
