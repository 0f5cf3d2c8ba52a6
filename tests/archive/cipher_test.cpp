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

TEST(Cipher, DecipherInvertsEncipherAndLeavesTheSameKeys) {
  for (const char* password : {"p", "password", "kvernsteik", "seventeen-chars!!"}) {
    ASSERT_TRUE(setCipherPassword(password));
    const ArchiveCipher keyed = archiveCipher;
    uint8_t block[16];
    std::iota(block, block + 16, uint8_t(0x30));
    uint8_t original[16];
    memcpy(original, block, 16);

    encryptBlock(block);
    EXPECT_NE(0, memcmp(block, original, 16)) << password;
    const ArchiveCipher afterEncipher = archiveCipher;

    archiveCipher = keyed;
    decryptBlock(block);
    EXPECT_EQ(0, memcmp(block, original, 16)) << password;
    EXPECT_EQ(0, memcmp(afterEncipher.key, archiveCipher.key, sizeof archiveCipher.key))
        << password;
  }
}

TEST(Cipher, KeysFollowTheCiphertextSoBlockOrderMatters) {
  setCipherPassword("password");
  uint8_t first[16] = {1}, second[16] = {2};
  encryptBlock(first);
  encryptBlock(second);
  // Deciphering the second block first, from the freshly keyed state, fails.
  setCipherPassword("password");
  uint8_t copy[16];
  memcpy(copy, second, 16);
  decryptBlock(copy);
  EXPECT_NE(2, copy[0]);
  setCipherPassword("password");
  decryptBlock(first);
  decryptBlock(second);
  EXPECT_EQ(1, first[0]);
  EXPECT_EQ(2, second[0]);
}

TEST(Cipher, SubstitutionStaysAPermutation) {
  for (const char* password : {"", "a", "password", "seventeen-chars!!", "\xff\xfe\x80"}) {
    ASSERT_TRUE(setCipherPassword(password));
    EXPECT_TRUE(isPermutation(archiveCipher.substitution)) << password;
  }
  const std::string longest(kMaxPasswordLength, 'z');
  ASSERT_TRUE(setCipherPassword(longest.c_str()));
  EXPECT_TRUE(isPermutation(archiveCipher.substitution));
}

// The keying enciphers one block per 16 password characters: a 1-character
// password one block, 16 characters one, 17 characters two (the second holding
// the 17th character and zeros). Differing only in a character past the 16th
// must therefore change the keys.
TEST(Cipher, PasswordLengthsAndPadding) {
  ASSERT_TRUE(setCipherPassword("a"));
  const ArchiveCipher one = archiveCipher;
  ASSERT_TRUE(setCipherPassword("b"));
  EXPECT_NE(0, memcmp(one.key, archiveCipher.key, sizeof one.key));

  ASSERT_TRUE(setCipherPassword("0123456789abcdefX"));
  const ArchiveCipher seventeen = archiveCipher;
  ASSERT_TRUE(setCipherPassword("0123456789abcdefY"));
  EXPECT_NE(0, memcmp(seventeen.key, archiveCipher.key, sizeof seventeen.key));
  ASSERT_TRUE(setCipherPassword("0123456789abcdef"));
  EXPECT_NE(0, memcmp(seventeen.key, archiveCipher.key, sizeof seventeen.key));
}

TEST(Cipher, RefusesNullAndOverlongPasswords) {
  ASSERT_TRUE(setCipherPassword("password"));
  const ArchiveCipher before = archiveCipher;
  EXPECT_FALSE(setCipherPassword(nullptr));
  const std::string tooLong(kMaxPasswordLength + 1, 'z');
  EXPECT_FALSE(setCipherPassword(tooLong.c_str()));
  EXPECT_EQ(0, memcmp(&before, &archiveCipher, sizeof before));
}

} // namespace
