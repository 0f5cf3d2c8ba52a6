#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>

inline constexpr size_t kCipherBlockSize = 16;
inline constexpr size_t kMaxPasswordLength = 255;

// The archive's block cipher: 16-byte blocks, 32 rounds, four 32-bit keys and a
// 256-byte substitution table derived from the password. The keys change after
// every block, driven by the ciphertext, so the blocks of one entry must be
// processed exactly once and in file order, by one cipher value keyed for that
// entry.
struct ArchiveCipher {
  uint32_t key[4];
  uint8_t substitution[256];

  // A cipher keyed from a NUL-terminated password of at most kMaxPasswordLength
  // characters; none for a null or longer password.
  static std::optional<ArchiveCipher> fromPassword(const char* password);

  // Enciphers 16 bytes in place and folds the ciphertext into the keys.
  void encryptBlock(uint8_t* block);

  // Deciphers 16 bytes in place and folds the original ciphertext into the keys.
  void decryptBlock(uint8_t* block);

  // Folds a 16-byte ciphertext block into the keys.
  void updateKeys(const uint8_t* block);
};
