// Bits written most significant first, the order in which the decoder peeks them.
#pragma once

#include <cstdint>
#include <vector>

namespace pack {

class BitWriter {
public:
  // Appends the low `count` bits of `value` (count at most 32).
  void write(uint32_t value, int count) {
    if (count == 0)
      return;
    pending = (pending << count) | (value & ((uint64_t{1} << count) - 1));
    pendingBits += count;
    while (pendingBits >= 8) {
      pendingBits -= 8;
      output.push_back(static_cast<uint8_t>(pending >> pendingBits));
    }
  }

  // Pads the last byte with zero bits.
  void alignToByte() {
    if (pendingBits > 0)
      write(0, 8 - pendingBits);
  }

  uint64_t bitCount() const { return output.size() * 8 + static_cast<uint64_t>(pendingBits); }

  // The bytes written so far; the writer must be aligned.
  const std::vector<uint8_t>& bytes() const { return output; }
  std::vector<uint8_t>& bytes() { return output; }

private:
  std::vector<uint8_t> output;
  uint64_t pending = 0;
  int pendingBits = 0;
};

} // namespace pack
