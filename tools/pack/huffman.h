// Huffman code lengths limited to a maximum length, and the canonical codes
// (by length, then by symbol number) that the decoder's tables expect.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

namespace pack {

// Optimal code lengths for the given symbol frequencies with no code longer
// than maxLength. Symbols of frequency 0 get length 0; a lone used symbol gets
// length 1.
std::vector<uint8_t> limitedCodeLengths(std::span<const uint32_t> frequencies, int maxLength);

// Canonical codes for a set of code lengths (each at most 15).
std::vector<uint16_t> canonicalCodes(std::span<const uint8_t> lengths);

} // namespace pack
