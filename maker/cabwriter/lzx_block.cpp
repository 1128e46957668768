#include "lzx_block.h"

#include <cstring>

#include "lzx_huffman.h"

namespace lzx {

namespace {

struct Token {
  uint8_t symbol;
  uint8_t extraBits;
  uint8_t extra;
};

// Pretree tokens for lengths [first, last) against the previous ones:
// 17 and 18 are runs of zeros, 19 a short run of one value, 0..16 a single
// length as (previous - new) mod 17.
void Tokenize(const uint8_t* lengths, const uint8_t* previous, int first, int last, std::vector<Token>& tokens) {
  tokens.clear();
  int i = first;
  while (i < last) {
    int run = 1;
    while (i + run < last && lengths[i + run] == lengths[i]) ++run;
    if (lengths[i] == 0 && run >= 20) {
      const int n = run > 51 ? 51 : run;
      tokens.push_back({18, 5, (uint8_t)(n - 20)});
      i += n;
    } else if (lengths[i] == 0 && run >= 4) {
      const int n = run > 19 ? 19 : run;
      tokens.push_back({17, 4, (uint8_t)(n - 4)});
      i += n;
    } else if (run >= 4) {
      // Decoders apply the delta of the run's first length to all of it.
      const int n = run > 5 ? 5 : run;
      tokens.push_back({19, 1, (uint8_t)(n - 4)});
      tokens.push_back({(uint8_t)((previous[i] - lengths[i] + 17) % 17), 0, 0});
      i += n;
    } else {
      tokens.push_back({(uint8_t)((previous[i] - lengths[i] + 17) % 17), 0, 0});
      ++i;
    }
  }
}

void PretreeLengths(const std::vector<Token>& tokens, uint8_t* lengths) {
  uint32_t counts[kNumPretreeSymbols] = {};
  for (const Token& t : tokens) counts[t.symbol]++;
  // Decoders want a complete code: at least two symbols.
  int used = 0;
  for (uint32_t c : counts) used += c != 0;
  for (int s = 0; used < 2; ++s)
    if (!counts[s]) counts[s] = 1, ++used;
  BuildCodeLengths(counts, kNumPretreeSymbols, kMaxPretreeLength, lengths);
}

uint64_t RangeBits(const uint8_t* lengths, const uint8_t* previous, int first, int last) {
  std::vector<Token> tokens;
  Tokenize(lengths, previous, first, last, tokens);
  uint8_t pre[kNumPretreeSymbols];
  PretreeLengths(tokens, pre);
  uint64_t bits = kNumPretreeSymbols * 4;
  for (const Token& t : tokens) bits += pre[t.symbol] + t.extraBits;
  return bits;
}

void WriteRange(BitWriter& out, const uint8_t* lengths, const uint8_t* previous, int first, int last) {
  std::vector<Token> tokens;
  Tokenize(lengths, previous, first, last, tokens);
  uint8_t pre[kNumPretreeSymbols];
  PretreeLengths(tokens, pre);
  uint16_t codes[kNumPretreeSymbols];
  BuildCodewords(pre, kNumPretreeSymbols, codes);
  for (int i = 0; i < kNumPretreeSymbols; ++i) out.Put(pre[i], 4);
  for (const Token& t : tokens) {
    out.Put(codes[t.symbol], pre[t.symbol]);
    if (t.extraBits) out.Put(t.extra, t.extraBits);
  }
}

// Lengths for counts, with at least two symbols coded (decoders reject an
// incomplete code).
void CompleteLengths(const uint32_t* counts, int n, int maxLength, uint8_t* lengths, int forced = -1) {
  uint32_t c[kMaxMainSymbols];
  memcpy(c, counts, n * sizeof(uint32_t));
  if (forced >= 0 && !c[forced]) c[forced] = 1;
  int used = 0;
  for (int i = 0; i < n; ++i) used += c[i] != 0;
  for (int s = 0; used < 2; ++s)
    if (!c[s]) c[s] = 1, ++used;
  BuildCodeLengths(c, n, maxLength, lengths);
}

int ItemSlot(const Item& item) { return item.code < 3 ? (int)item.code : SlotOf(item.code); }

}  // namespace

void BlockStats::Add(const Item& item) {
  if (item.length == 1) {
    main[item.code]++;
    return;
  }
  const int slot = ItemSlot(item);
  main[MainSymbol(slot, (int)item.length)]++;
  if (item.length >= 9) length[item.length - 9]++;
  const int extra = ExtraBits(slot);
  verbatimExtraBits += extra;
  if (item.code >= 3 && extra >= 3) {
    aligned[item.code & 7]++;
    alignedExtraBits += extra - 3;
  } else {
    alignedExtraBits += extra;
  }
}

void BlockStats::Add(const BlockStats& o) {
  for (int i = 0; i < kMaxMainSymbols; ++i) main[i] += o.main[i];
  for (int i = 0; i < kNumLengthSymbols; ++i) length[i] += o.length[i];
  for (int i = 0; i < kNumAlignedSymbols; ++i) aligned[i] += o.aligned[i];
  verbatimExtraBits += o.verbatimExtraBits;
  alignedExtraBits += o.alignedExtraBits;
}

uint64_t TreeBits(const BlockPlan& plan, const TreeState& previous) {
  return RangeBits(plan.main, previous.main, 0, kNumChars) +
         RangeBits(plan.main, previous.main, kNumChars, previous.numMain) +
         RangeBits(plan.length, previous.length, 0, kNumLengthSymbols);
}

void PlanBlock(const BlockStats& stats, uint32_t bytes, const TreeState& previous, bool forceE8, BlockPlan& plan) {
  const int numMain = previous.numMain;
  CompleteLengths(stats.main, numMain, kMaxCodeLength, plan.main, forceE8 ? 0xE8 : -1);
  CompleteLengths(stats.length, kNumLengthSymbols, kMaxCodeLength, plan.length);
  CompleteLengths(stats.aligned, kNumAlignedSymbols, kMaxAlignedLength, plan.aligned);
  uint64_t symbols = 0;
  for (int i = 0; i < numMain; ++i) symbols += (uint64_t)stats.main[i] * plan.main[i];
  for (int i = 0; i < kNumLengthSymbols; ++i) symbols += (uint64_t)stats.length[i] * plan.length[i];
  uint64_t alignedSymbols = 0;
  for (int i = 0; i < kNumAlignedSymbols; ++i) alignedSymbols += (uint64_t)stats.aligned[i] * plan.aligned[i];
  const uint64_t trees = TreeBits(plan, previous);
  const uint64_t verbatim = 27 + trees + symbols + stats.verbatimExtraBits;
  const uint64_t aligned = 27 + 24 + trees + symbols + stats.alignedExtraBits + alignedSymbols;
  const uint64_t raw = 27 + 16 + 96 + 8 * ((uint64_t)bytes + (bytes & 1));
  plan.type = kBlockVerbatim;
  plan.bits = verbatim;
  if (aligned < plan.bits) plan.type = kBlockAligned, plan.bits = aligned;
  if (raw < plan.bits) plan.type = kBlockUncompressed, plan.bits = raw;
}

void WriteBlockHeader(BitWriter& out, const BlockPlan& plan, uint32_t bytes, const TreeState& previous) {
  out.Put(plan.type, 3);
  out.Put(bytes >> 8, 16);
  out.Put(bytes & 0xFF, 8);
  if (plan.type == kBlockAligned)
    for (int i = 0; i < kNumAlignedSymbols; ++i) out.Put(plan.aligned[i], 3);
  WriteRange(out, plan.main, previous.main, 0, kNumChars);
  WriteRange(out, plan.main, previous.main, kNumChars, previous.numMain);
  WriteRange(out, plan.length, previous.length, 0, kNumLengthSymbols);
}

BlockCoder::BlockCoder(const BlockPlan& p, int numMain) : plan(p) {
  BuildCodewords(plan.main, numMain, mainCode);
  BuildCodewords(plan.length, kNumLengthSymbols, lengthCode);
  BuildCodewords(plan.aligned, kNumAlignedSymbols, alignedCode);
}

void BlockCoder::Write(BitWriter& out, const Item& item) const {
  if (item.length == 1) {
    out.Put(mainCode[item.code], plan.main[item.code]);
    return;
  }
  const int slot = ItemSlot(item);
  const int symbol = MainSymbol(slot, (int)item.length);
  out.Put(mainCode[symbol], plan.main[symbol]);
  if (item.length >= 9) out.Put(lengthCode[item.length - 9], plan.length[item.length - 9]);
  const int extra = ExtraBits(slot);
  if (item.code < 3 || extra == 0) return;
  const uint32_t footer = item.code - PositionBase(slot);
  if (plan.type == kBlockAligned && extra >= 3) {
    if (extra > 3) out.Put(footer >> 3, extra - 3);
    out.Put(alignedCode[footer & 7], plan.aligned[footer & 7]);
  } else {
    out.Put(footer, extra);
  }
}

uint32_t ItemBits(const BlockPlan& plan, const Item& item) {
  if (item.length == 1) return plan.main[item.code];
  const int slot = ItemSlot(item);
  uint32_t bits = plan.main[MainSymbol(slot, (int)item.length)];
  if (item.length >= 9) bits += plan.length[item.length - 9];
  const int extra = ExtraBits(slot);
  if (item.code < 3) return bits;
  if (plan.type == kBlockAligned && extra >= 3) return bits + extra - 3 + plan.aligned[item.code & 7];
  return bits + extra;
}

}  // namespace lzx
