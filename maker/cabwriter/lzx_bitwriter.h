// Bit output in LZX order: 16-bit little-endian words, each filled from its
// most significant bit.
#pragma once
#include <cstddef>
#include <cstdint>
#include <vector>

namespace lzx {

class BitWriter {
 public:
  // value must fit in bits; bits <= 32.
  void Put(uint32_t value, int bits) {
    acc_ = (acc_ << bits) | value;
    pending_ += bits;
    while (pending_ >= 16) {
      uint32_t word = (uint32_t)(acc_ >> (pending_ - 16)) & 0xFFFF;
      bytes_.push_back((uint8_t)word);
      bytes_.push_back((uint8_t)(word >> 8));
      pending_ -= 16;
    }
    acc_ &= (uint64_t(1) << pending_) - 1;
  }
  // Pads with zero bits to the next 16-bit boundary (none if already there).
  void AlignTo16() {
    if (pending_) Put(0, 16 - pending_);
  }
  // Before an uncompressed block's raw part decoders skip 1 to 16 bits:
  // a whole zero word when the header ended on a boundary.
  void PadForRaw() { Put(0, 16 - pending_); }
  // Raw bytes; only when aligned.
  void PutBytes(const uint8_t* data, size_t size) { bytes_.insert(bytes_.end(), data, data + size); }
  void PutByte(uint8_t b) { bytes_.push_back(b); }
  bool Aligned() const { return pending_ == 0; }
  uint64_t BitCount() const { return (uint64_t)bytes_.size() * 8 + pending_; }
  std::vector<uint8_t>& Bytes() { return bytes_; }

 private:
  uint64_t acc_ = 0;
  int pending_ = 0;
  std::vector<uint8_t> bytes_;
};

}  // namespace lzx
