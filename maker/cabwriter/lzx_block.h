// One LZX block: its statistics, the choice of its type, and its bits.
#pragma once
#include <cstdint>
#include <vector>

#include "lzx_bitwriter.h"
#include "lzx_format.h"
#include "lzx_parser.h"

namespace lzx {

struct BlockStats {
  uint32_t main[kMaxMainSymbols] = {};
  uint32_t length[kNumLengthSymbols] = {};
  uint32_t aligned[kNumAlignedSymbols] = {};
  uint64_t verbatimExtraBits = 0;  // extra bits as a verbatim block writes them
  uint64_t alignedExtraBits = 0;   // extra bits outside the aligned symbols in an aligned block
  void Add(const Item& item);
  void Add(const BlockStats& other);
};

// The trees of a block, with the lengths the previous block left (the delta
// base of the main and length trees).
struct TreeState {
  int numMain;
  uint8_t main[kMaxMainSymbols] = {};
  uint8_t length[kNumLengthSymbols] = {};
};

struct BlockPlan {
  BlockType type;
  uint8_t main[kMaxMainSymbols];
  uint8_t length[kNumLengthSymbols];
  uint8_t aligned[kNumAlignedSymbols];
  uint64_t bits;  // estimated size of the whole block
};

// Chooses the cheapest type for a block of `bytes` uncompressed bytes.
// forceE8: gives literal 0xE8 a code, so that decoders that start undoing
// the E8 translation only on seeing one do so from the first block.
void PlanBlock(const BlockStats& stats, uint32_t bytes, const TreeState& previous, bool forceE8, BlockPlan& plan);

// Bits of the block header's trees (verbatim and aligned blocks).
uint64_t TreeBits(const BlockPlan& plan, const TreeState& previous);

// Writes the header and trees of a verbatim or aligned block.
void WriteBlockHeader(BitWriter& out, const BlockPlan& plan, uint32_t bytes, const TreeState& previous);

// Codewords of a planned block, and writing its items.
struct BlockCoder {
  explicit BlockCoder(const BlockPlan& plan, int numMain);
  void Write(BitWriter& out, const Item& item) const;
  const BlockPlan& plan;
  uint16_t mainCode[kMaxMainSymbols];
  uint16_t lengthCode[kNumLengthSymbols];
  uint16_t alignedCode[kNumAlignedSymbols];
};

// Bits an item costs in a planned block.
uint32_t ItemBits(const BlockPlan& plan, const Item& item);

}  // namespace lzx
