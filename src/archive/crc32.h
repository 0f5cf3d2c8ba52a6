#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

// CRC-32 with the reflected polynomial 0xEDB88320 (ISO 3309 / ITU-T V.42).
// Callers start the register at 0xFFFFFFFF and complement the final value:
//   uint32_t crc = ~crc32Update(0xFFFFFFFF, data, size);

// Entry i is i shifted right eight times, each time xored with the polynomial
// when the bit shifted out is 1. Used by the entry check and the cipher's key schedule.
extern const std::array<uint32_t, 256> crc32Table;

// Folds `count` bytes into the CRC register and returns the new register.
uint32_t crc32Update(uint32_t crc, const void* bytes, size_t count);
