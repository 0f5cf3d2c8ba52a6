#include "archive/archive_cipher.h"

#include "archive/crc32.h"

#include <algorithm>
#include <cstring>
#include <iterator>
#include <utility>

namespace {

constexpr uint32_t kInitialKeys[4] = {0xD3A3B879u, 0x3F6D12F7u, 0x7515A235u, 0xA4E7F123u};
constexpr int kRounds = 32;

// The permutation every substitution table starts from.
constexpr uint8_t kInitialSubstitution[256] = {
    0xD7, 0x13, 0x95, 0x23, 0x49, 0xC5, 0xC0, 0xCD, 0xF9, 0x1C, 0x10, 0x77, 0x30, 0xDD, 0x02, 0x2A,
    0xE8, 0x01, 0xB1, 0xE9, 0x0E, 0x58, 0xDB, 0x19, 0xDF, 0xC3, 0xF4, 0x5A, 0x57, 0xEF, 0x99, 0x89,
    0xFF, 0xC7, 0x93, 0x46, 0x5C, 0x42, 0xF6, 0x0D, 0xD8, 0x28, 0x3E, 0x1D, 0xD9, 0xE6, 0x56, 0x06,
    0x47, 0x18, 0xAB, 0xC4, 0x65, 0x71, 0xDA, 0x7B, 0x5D, 0x5B, 0xA3, 0xB2, 0xCA, 0x43, 0x2C, 0xEB,
    0x6B, 0xFA, 0x4B, 0xEA, 0x31, 0xA7, 0x7D, 0xD3, 0x53, 0x72, 0x9D, 0x90, 0x20, 0xC1, 0x8F, 0x24,
    0x9E, 0x7C, 0xF7, 0xBB, 0x59, 0xD6, 0x8D, 0x2F, 0x79, 0xE4, 0x3D, 0x82, 0xD5, 0xC2, 0xAE, 0xFB,
    0x61, 0x6E, 0x36, 0xE5, 0x73, 0x39, 0x98, 0x5E, 0x69, 0xF3, 0xD4, 0x37, 0xD1, 0xF5, 0x3F, 0x0B,
    0xA4, 0xC8, 0x1F, 0x9C, 0x51, 0xB0, 0xE3, 0x15, 0x4C, 0x63, 0x8B, 0xBC, 0x7F, 0x11, 0xF8, 0x33,
    0xCF, 0x78, 0xBD, 0xD2, 0x08, 0xE2, 0x29, 0x48, 0xB7, 0xCB, 0x87, 0xA5, 0xA6, 0x3C, 0x62, 0x07,
    0x7A, 0x26, 0x9B, 0xAA, 0x45, 0xAC, 0xFC, 0xEE, 0x27, 0x86, 0x3B, 0x80, 0xEC, 0x1B, 0xF0, 0x50,
    0x83, 0x03, 0x55, 0xCE, 0x91, 0x4F, 0x9A, 0x8E, 0x9F, 0xDC, 0xC9, 0x85, 0x4A, 0x40, 0x14, 0x81,
    0xE0, 0xB9, 0x8A, 0x67, 0xAD, 0xB6, 0x2B, 0x22, 0xFE, 0x52, 0xC6, 0x97, 0xE7, 0xB4, 0x3A, 0x0A,
    0x76, 0x1A, 0x66, 0x0C, 0x32, 0x84, 0x16, 0xBF, 0x88, 0x6F, 0xA2, 0xB3, 0x2D, 0x04, 0x94, 0x6C,
    0xA1, 0x38, 0x4E, 0x7E, 0xF2, 0xDE, 0x0F, 0xAF, 0x92, 0x17, 0x21, 0xF1, 0xB5, 0xBE, 0x4D, 0xE1,
    0x00, 0x2E, 0xA9, 0xBA, 0x44, 0x5F, 0xED, 0x41, 0x35, 0xD0, 0xFD, 0xA8, 0x09, 0x12, 0x64, 0x34,
    0x74, 0xB8, 0xA0, 0x60, 0x6D, 0x25, 0x1E, 0x6A, 0x8C, 0x68, 0x96, 0x05, 0xCC, 0x75, 0x70, 0x54};

uint32_t rotateLeft(uint32_t x, int n) {
  return (x << n) | (x >> (32 - n));
}

// Replaces each byte of x by its substitution, each byte staying in its place.
uint32_t substitute(const uint8_t* s, uint32_t x) {
  return uint32_t(s[x & 0xFF]) | uint32_t(s[(x >> 8) & 0xFF]) << 8 |
         uint32_t(s[(x >> 16) & 0xFF]) << 16 | uint32_t(s[x >> 24]) << 24;
}

uint32_t loadWord(const uint8_t* p) {
  return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

void storeWord(uint8_t* p, uint32_t v) {
  p[0] = uint8_t(v);
  p[1] = uint8_t(v >> 8);
  p[2] = uint8_t(v >> 16);
  p[3] = uint8_t(v >> 24);
}

// One Feistel round on the state s: the same formula in both directions.
void cipherRound(const ArchiveCipher& cipher, uint32_t s[4], uint32_t key) {
  const uint32_t t0 = s[0] ^ substitute(cipher.substitution, (s[2] + rotateLeft(s[3], 11)) ^ key);
  const uint32_t t1 = s[1] ^ substitute(cipher.substitution, (s[3] ^ rotateLeft(s[2], 17)) + key);
  s[0] = s[2];
  s[1] = s[3];
  s[2] = t0;
  s[3] = t1;
}

// Whitening, 32 rounds (forwards or backwards through the keys), swapped halves.
void transformBlock(const ArchiveCipher& cipher, uint8_t* block, bool forward) {
  const uint32_t* key = cipher.key;
  uint32_t s[4];
  for (int i = 0; i < 4; ++i)
    s[i] = loadWord(block + 4 * i) ^ key[i];
  for (int r = 0; r < kRounds; ++r)
    cipherRound(cipher, s, key[(forward ? r : kRounds - 1 - r) & 3]);
  storeWord(block, s[2] ^ key[0]);
  storeWord(block + 4, s[3] ^ key[1]);
  storeWord(block + 8, s[0] ^ key[2]);
  storeWord(block + 12, s[1] ^ key[3]);
}

// Shuffles the substitution table with the password's character pairs:
// 256 passes, each pair driving a run of swaps.
void shuffleSubstitution(uint8_t* s, const uint8_t* password, size_t length) {
  for (uint32_t j = 0; j < 256; ++j) {
    for (size_t i = 0; i < length; i += 2) {
      uint32_t x = crc32Table[(password[i] - j) & 0xFF] & 0xFF;
      const uint32_t y = crc32Table[(password[i + 1] + j) & 0xFF] & 0xFF;
      for (uint32_t k = 1; x != y; ++k, x = (x + 1) & 0xFF)
        std::swap(s[x], s[(x + i + k) & 0xFF]);
    }
  }
}

} // namespace

std::optional<ArchiveCipher> ArchiveCipher::fromPassword(const char* password) {
  if (password == nullptr)
    return std::nullopt;
  const size_t length = strnlen(password, kMaxPasswordLength + 1);
  if (length > kMaxPasswordLength)
    return std::nullopt;

  // Zero-filled, so an odd-length password pairs its last character with 0
  // and the last enciphered block is padded with zeros.
  uint8_t buffer[kMaxPasswordLength + 1 + kCipherBlockSize] = {};
  memcpy(buffer, password, length);

  ArchiveCipher cipher;
  std::copy(std::begin(kInitialKeys), std::end(kInitialKeys), cipher.key);
  std::copy(std::begin(kInitialSubstitution), std::end(kInitialSubstitution), cipher.substitution);
  shuffleSubstitution(cipher.substitution, buffer, length);
  // Enciphering the password only advances the keys; the result is dropped.
  for (size_t i = 0; i < length; i += kCipherBlockSize)
    cipher.encryptBlock(buffer + i);
  memset(buffer, 0, sizeof buffer);
  return cipher;
}

void ArchiveCipher::encryptBlock(uint8_t* block) {
  transformBlock(*this, block, true);
  updateKeys(block);
}

void ArchiveCipher::decryptBlock(uint8_t* block) {
  uint8_t ciphertext[kCipherBlockSize];
  memcpy(ciphertext, block, kCipherBlockSize);
  transformBlock(*this, block, false);
  updateKeys(ciphertext);
}

void ArchiveCipher::updateKeys(const uint8_t* block) {
  for (size_t i = 0; i < kCipherBlockSize; i += 4)
    for (int k = 0; k < 4; ++k)
      key[k] ^= crc32Table[block[i + k]];
}
