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
    pending_ = (pending_ << count) | (value & ((uint64_t{1} << count) - 1));
    pendingBits_ += count;
    while (pendingBits_ >= 8) {
      pendingBits_ -= 8;
      bytes_.push_back(static_cast<uint8_t>(pending_ >> pendingBits_));
    }
  }

  // Pads the last byte with zero bits.
  void alignToByte() {
    if (pendingBits_ > 0)
      write(0, 8 - pendingBits_);
  }

  uint64_t bitCount() const { return bytes_.size() * 8 + static_cast<uint64_t>(pendingBits_); }

  // The bytes written so far; the writer must be aligned.
  const std::vector<uint8_t>& bytes() const { return bytes_; }
  std::vector<uint8_t>& bytes() { return bytes_; }

private:
  std::vector<uint8_t> bytes_;
  uint64_t pending_ = 0;
  int pendingBits_ = 0;
};

} // namespace pack
