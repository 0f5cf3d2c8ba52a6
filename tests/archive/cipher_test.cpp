#include "archive/archive_cipher.h"

#include <algorithm>
#include <cstring>
#include <gtest/gtest.h>
#include <numeric>
#include <string>

namespace {

bool isPermutation(const uint8_t* table) {
  bool seen[256] = {};
  for (int i = 0; i < 256; ++i)
    seen[table[i]] = true;
  return std::all_of(std::begin(seen), std::end(seen), [](bool b) { return b; });
}

ArchiveCipher keyed(const char* password) {
  const std::optional<ArchiveCipher> cipher = ArchiveCipher::fromPassword(password);
  EXPECT_TRUE(cipher.has_value()) << password;
  return cipher.value_or(ArchiveCipher{});
}

bool sameKeys(const ArchiveCipher& a, const ArchiveCipher& b) {
  return memcmp(a.key, b.key, sizeof a.key) == 0;
}

TEST(Cipher, DecipherInvertsEncipherAndLeavesTheSameKeys) {
  for (const char* password : {"p", "password", "kvernsteik", "seventeen-chars!!"}) {
    const ArchiveCipher start = keyed(password);
    uint8_t block[16];
    std::iota(block, block + 16, uint8_t(0x30));
    uint8_t original[16];
    memcpy(original, block, 16);

    ArchiveCipher encipher = start;
    encipher.encryptBlock(block);
    EXPECT_NE(0, memcmp(block, original, 16)) << password;

    ArchiveCipher decipher = start;
    decipher.decryptBlock(block);
    EXPECT_EQ(0, memcmp(block, original, 16)) << password;
    EXPECT_TRUE(sameKeys(encipher, decipher)) << password;
  }
}

TEST(Cipher, KeysFollowTheCiphertextSoBlockOrderMatters) {
  ArchiveCipher encipher = keyed("password");
  uint8_t first[16] = {1}, second[16] = {2};
  encipher.encryptBlock(first);
  encipher.encryptBlock(second);
  // Deciphering the second block first, from the freshly keyed state, fails.
  ArchiveCipher wrongOrder = keyed("password");
  uint8_t copy[16];
  memcpy(copy, second, 16);
  wrongOrder.decryptBlock(copy);
  EXPECT_NE(2, copy[0]);
  ArchiveCipher decipher = keyed("password");
  decipher.decryptBlock(first);
  decipher.decryptBlock(second);
  EXPECT_EQ(1, first[0]);
  EXPECT_EQ(2, second[0]);
}

// Two values keyed from one password are independent: advancing one leaves
// the other as keyed.
TEST(Cipher, ValuesDoNotShareState) {
  ArchiveCipher a = keyed("password");
  const ArchiveCipher b = keyed("password");
  uint8_t block[16] = {};
  a.encryptBlock(block);
  EXPECT_FALSE(sameKeys(a, b));
  EXPECT_TRUE(sameKeys(b, keyed("password")));
}

TEST(Cipher, SubstitutionStaysAPermutation) {
  for (const char* password : {"", "a", "password", "seventeen-chars!!", "\xff\xfe\x80"})
    EXPECT_TRUE(isPermutation(keyed(password).substitution)) << password;
  const std::string longest(kMaxPasswordLength, 'z');
  EXPECT_TRUE(isPermutation(keyed(longest.c_str()).substitution));
}

// The keying enciphers one block per 16 password characters: a 1-character
// password one block, 16 characters one, 17 characters two (the second holding
// the 17th character and zeros). Differing only in a character past the 16th
// must therefore change the keys.
TEST(Cipher, PasswordLengthsAndPadding) {
  EXPECT_FALSE(sameKeys(keyed("a"), keyed("b")));
  const ArchiveCipher seventeen = keyed("0123456789abcdefX");
  EXPECT_FALSE(sameKeys(seventeen, keyed("0123456789abcdefY")));
  EXPECT_FALSE(sameKeys(seventeen, keyed("0123456789abcdef")));
}

TEST(Cipher, RefusesNullAndOverlongPasswords) {
  EXPECT_FALSE(ArchiveCipher::fromPassword(nullptr).has_value());
  const std::string tooLong(kMaxPasswordLength + 1, 'z');
  EXPECT_FALSE(ArchiveCipher::fromPassword(tooLong.c_str()).has_value());
}

} // namespace
