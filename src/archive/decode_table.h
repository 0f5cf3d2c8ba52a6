#pragma once

#include <algorithm>
#include <cstdint>
#include <iterator>

// Decoding of the canonical codes of the version-2.0 compressed stream, for
// the decompressor.
//
// The stream defines decoding by limits: limit[L] is the first left-aligned
// 16-bit code value beyond the codes of length L, position[L] the index in
// `symbols` of the first symbol of length L. A code is the shortest length
// whose limit lies above the next 16 bits (lowest bit cleared); an index
// beyond the alphabet gives the first symbol of the list. This also fixes
// what over-subscribed and incomplete codes decode to.
//
// `entries` resolves every code of up to kBits bits with one lookup of the
// next kBits bits. An entry carries what the decoder needs of the symbol:
//   bits 0-5   the bits to consume: the code, plus the extra bits that follow
//              it when the symbol stands for a number (a length, a distance);
//   bits 6-31  the entry's field: the symbol, or that number less the code's
//              own value, so that the consumed bits, read as one number and
//              added to the field, give the number (modulo its width).
// An entry of a longer code is kLongCodeEntry, which consumes nothing (no
// other entry does) and has its top bits set: the decoder then walks the
// limits.

inline constexpr uint32_t kEntryFieldBits = 26;

// An entry with `field` that consumes nothing.
constexpr uint32_t fieldEntry(uint32_t field) {
  return field << 6;
}
inline constexpr uint32_t kLongCodeEntry = fieldEntry(7u << (kEntryFieldBits - 3));

// The bits an entry consumes.
constexpr uint32_t entryBits(uint32_t entry) {
  return entry & 63;
}
constexpr uint32_t entryField(uint32_t entry) {
  return entry >> 6;
}

// The number a code's entry stands for, from the low kWidth bits of its
// field; `bits` is the input, left-aligned, before the entry is consumed.
template <uint32_t kWidth> uint32_t entryNumber(uint32_t entry, uint64_t bits) {
  const uint32_t consumed = uint32_t(bits >> (64 - entryBits(entry)));
  return (entryField(entry) + consumed) & ((1u << kWidth) - 1);
}

// What a symbol's entries are made from: `entry` holds the field and, as the
// bits to consume, the symbol's extra bits. When `numberWidth` is not 0 the
// low numberWidth bits of the field are a number, from which each code takes
// its own value.
struct SymbolEntry {
  uint32_t entry;
  uint32_t numberWidth;
};

constexpr SymbolEntry symbolEntry(uint32_t field, uint32_t extraBits = 0,
                                  uint32_t numberWidth = 0) {
  return {fieldEntry(field) | extraBits, numberWidth};
}

// The entry of the code `code` of `length` bits for a symbol.
constexpr uint32_t codeEntry(SymbolEntry symbol, uint32_t length, uint32_t code) {
  const uint32_t extraBits = entryBits(symbol.entry);
  const uint32_t mask = (1u << symbol.numberWidth) - 1;
  const uint32_t field = entryField(symbol.entry);
  const uint32_t number = (field - (code << extraBits)) & mask;
  return fieldEntry((field & ~mask) | number) | (extraBits + length);
}

template <uint32_t kBits, uint32_t kAlphabet> struct DecodeTable {
  static constexpr uint32_t kLookupBits = kBits;

  uint32_t limit[16] = {};
  uint32_t position[16] = {};
  uint16_t symbols[kAlphabet] = {};
  const SymbolEntry* symbolEntries = nullptr;
  uint32_t entries[1u << kBits] = {};

  // Builds the table of the alphabet from its code lengths (taken modulo 16);
  // `symbolEntries` (one per symbol) must outlive the table.
  void build(const uint8_t* lengths, const SymbolEntry* symbolEntryList) {
    symbolEntries = symbolEntryList;
    uint32_t lengthCount[16] = {};
    for (uint32_t i = 0; i < kAlphabet; ++i)
      ++lengthCount[lengths[i] & 15];
    lengthCount[0] = 0;

    limit[0] = 0;
    position[0] = 0;
    uint32_t code = 0;
    for (uint32_t length = 1; length < 16; ++length) {
      code = 2 * (code + lengthCount[length]);
      limit[length] = std::min<uint32_t>(code << (15 - length), 0xFFFF);
      position[length] = position[length - 1] + lengthCount[length - 1];
    }

    uint32_t next[16];
    std::copy(std::begin(position), std::end(position), next);
    std::fill(std::begin(symbols), std::end(symbols), uint16_t(0));
    for (uint32_t symbol = 0; symbol < kAlphabet; ++symbol) {
      const uint32_t length = lengths[symbol] & 15;
      if (length != 0)
        symbols[next[length]++] = uint16_t(symbol);
    }
    fillEntries();
  }

  // The entry of the next code; `bits` holds at least 16 valid bits.
  [[gnu::always_inline]] uint32_t lookup(uint64_t bits) const {
    const uint32_t entry = entries[bits >> (64 - kBits)];
    return entry == kLongCodeEntry ? walk(bits) : entry;
  }

  // The canonical walk, for a code longer than kBits bits: its entry.
  [[gnu::noinline]] uint32_t walk(uint64_t bits) const {
    const uint32_t code = uint32_t(bits >> 48) & 0xFFFE;
    uint32_t length = kBits + 1;
    while (length < 15 && code >= limit[length])
      ++length;
    uint32_t index = ((code - limit[length - 1]) >> (16 - length)) + position[length];
    if (index >= kAlphabet)
      index = 0;
    return codeEntry(symbolEntries[symbols[index]], length, uint32_t(bits >> (64 - length)));
  }

private:
  // The prefixes of kBits bits whose code is at most kBits long. Limits of
  // such lengths are multiples of 2^(16 - length), so the prefix alone
  // decides the length, and each code of length L covers an aligned run of
  // 2^(kBits - L) prefixes, the next code the next run. A capped limit
  // (0xFFFF) admits every prefix, since decoding compares with the lowest
  // bit cleared.
  void fillEntries() {
    constexpr uint32_t kSpareBits = 16 - kBits;
    uint32_t prefix = 0;
    for (uint32_t length = 1; length <= kBits; ++length) {
      const uint32_t end = (limit[length] >= 0xFFFF ? 0x10000 : limit[length]) >> kSpareBits;
      const uint32_t run = 1u << (kBits - length);
      uint32_t index =
          (((prefix << kSpareBits) - limit[length - 1]) >> (16 - length)) + position[length];
      for (; prefix < end; prefix += run, ++index) {
        const SymbolEntry& symbol = symbolEntries[symbols[index < kAlphabet ? index : 0]];
        const uint32_t entry = symbol.numberWidth == 0
                                   ? symbol.entry + length
                                   : codeEntry(symbol, length, prefix >> (kBits - length));
        // Runs of one or two entries are most of a table's codes: stored
        // without a loop.
        uint32_t* const to = entries + prefix;
        if (run <= 2) {
          to[0] = entry;
          to[run - 1] = entry;
        } else {
          for (uint32_t i = 0; i < run; i += 4)
            std::fill_n(to + i, 4, entry);
        }
      }
    }
    std::fill(entries + prefix, std::end(entries), kLongCodeEntry);
  }
};
