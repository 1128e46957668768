// Constants and small helpers of the LZX bitstream as cabinet decoders read it.
#pragma once
#include <cstdint>

namespace lzx {

constexpr int kNumChars = 256;
constexpr int kMinMatch = 2;
constexpr int kMaxMatch = 257;
constexpr int kNumPrimaryLengths = 7;
constexpr int kNumLengthSymbols = 249;   // secondary lengths
constexpr int kNumPretreeSymbols = 20;
constexpr int kNumAlignedSymbols = 8;
constexpr int kMaxPositionSlots = 50;
constexpr int kMaxMainSymbols = kNumChars + kMaxPositionSlots * 8;
constexpr int kMaxCodeLength = 16;        // main and length trees
constexpr int kMaxPretreeLength = 15;     // 4-bit fields
constexpr int kMaxAlignedLength = 7;      // 3-bit fields
constexpr uint32_t kFrameSize = 32768;
constexpr uint32_t kE8MaxFrames = 32768;  // decoders stop undoing E8 translation after this many frames

enum BlockType { kBlockVerbatim = 1, kBlockAligned = 2, kBlockUncompressed = 3 };

// Number of position slots for a window of 2^windowBits bytes.
inline int PositionSlots(int windowBits) {
  return windowBits == 21 ? 50 : windowBits == 20 ? 42 : windowBits * 2;
}

// Verbatim bits following a position slot.
inline int ExtraBits(int slot) {
  if (slot < 4) return 0;
  int e = (slot - 2) / 2;
  return e > 17 ? 17 : e;
}

inline uint32_t PositionBase(int slot) {
  if (slot < 4) return (uint32_t)slot;
  if (slot < 36) return (slot & 1) ? 3u << ((slot - 1) / 2 - 1) : 1u << (slot / 2);
  return 262144u + (uint32_t)(slot - 36) * 131072u;
}

// Slot of a formatted offset (match offset + 2; 0..2 are the repeated offsets).
inline int SlotOf(uint32_t formatted) {
  if (formatted < 4) return (int)formatted;
  if (formatted < 262144) {
    int k = 31 - __builtin_clz(formatted);
    return 2 * k + (int)((formatted >> (k - 1)) & 1);
  }
  return 36 + (int)((formatted - 262144) >> 17);
}

inline int MainSymbol(int slot, int length) {
  int header = length - kMinMatch;
  if (header > kNumPrimaryLengths) header = kNumPrimaryLengths;
  return kNumChars + slot * 8 + header;
}

}  // namespace lzx
