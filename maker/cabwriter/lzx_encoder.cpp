#include "lzx_encoder.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <memory>
#include <thread>

#include "lzx_bitwriter.h"
#include "lzx_block.h"
#include "lzx_e8.h"
#include "lzx_format.h"
#include "lzx_matchfinder.h"
#include "lzx_parser.h"

using namespace lzx;

namespace {

// Uncompressed bytes parsed together: the price statistics and the block
// choices span one chunk.
constexpr uint32_t kChunk = 512 * 1024;
constexpr int kTreeDepth = 32;
// A frame's compressed bytes must fit the decoders' input buffer (32 KiB +
// 6 KiB); a block that would overflow it in one of its frames is split.
constexpr uint64_t kMaxFrameBits = 8ull * 36 * 1024;

// A rough price of a block: what its symbols cost by their entropy, plus the
// header and trees. Used only to decide where blocks end.
double EstimateBits(const BlockStats& s, int numMain, uint32_t bytes) {
  const double raw = 27 + 16 + 96 + 8.0 * bytes;
  // Header, the three pretrees, and about 4 bits a coded symbol for the trees.
  double bits = 27 + 3 * kNumPretreeSymbols * 4 + 60 + (double)s.verbatimExtraBits;
  auto code = [&bits](const uint32_t* counts, int n) {
    uint64_t total = 0;
    int used = 0;
    for (int i = 0; i < n; ++i) total += counts[i], used += counts[i] != 0;
    if (!total) return;
    const double lt = std::log2((double)total);
    for (int i = 0; i < n; ++i)
      if (counts[i]) bits += counts[i] * (lt - std::log2((double)counts[i]));
    bits += used * 4.0;
  };
  code(s.main, numMain);
  code(s.length, kNumLengthSymbols);
  return bits < raw ? bits : raw;
}

struct Segment {  // the items of one frame
  size_t firstItem, endItem;
  uint32_t start, end;  // absolute positions
  BlockStats stats;
};

}  // namespace

struct LzxStream {
  LzxStream(int windowBits, uint32_t e8Size)
      : e8Size(e8Size),
        // Behind what is parsed: the run found and waiting, the run being
        // found, and a frame of input.
        mf(windowBits, 2 * kChunk + kFrameSize, kTreeDepth, (uint32_t)ParserOptions().niceLength),
        parser(windowBits, kChunk + kFrameSize, ParserOptions()),
        frame(kFrameSize) {
    trees.numMain = kNumChars + PositionSlots(windowBits) * 8;
    parser.DefaultPrices(prices);
  }

  uint32_t e8Size;
  MatchFinder mf;
  Parser parser;
  std::vector<uint8_t> frame;  // input waiting for a whole frame (E8 translation works on frames)
  uint32_t frameFill = 0;
  uint32_t framesIn = 0;
  const uint32_t streamStart = MatchFinder::kStart;
  uint32_t found = MatchFinder::kStart;       // next position to find matches for
  uint32_t parsed = MatchFinder::kStart;      // next position to parse
  MatchCache caches[2];
  int waiting = -1;  // the cache found and not yet parsed, if any
  uint32_t written = MatchFinder::kStart;     // next position to encode
  uint32_t frameStart = MatchFinder::kStart;  // where the frame being written starts
  RepeatQueue queue;                          // after what is parsed
  RepeatQueue writtenQueue;                   // after what is written
  Prices prices;
  TreeState trees;
  BitWriter out;
  bool headerWritten = false;
  std::vector<Item> items;
  std::vector<Segment> segments;
  std::vector<Item> blockItems;
  std::vector<Segment> blockSegments;

  void PushFrame(LzxFrameSink sink, void* context);
  void Step(uint32_t findEnd, LzxFrameSink sink, void* context);
  void Cut(const std::vector<Item>& run, uint32_t start, uint32_t end, std::vector<Segment>& out) const;
  void Encode(const MatchCache& cache, LzxFrameSink sink, void* context);
  void WriteBlock(const std::vector<Item>& run, const Segment* first, const Segment* last, const BlockStats& stats,
                  LzxFrameSink sink, void* context);
  void Advance(uint32_t bytes, LzxFrameSink sink, void* context);
  void FlushFrame(LzxFrameSink sink, void* context);
};

void LzxStream::FlushFrame(LzxFrameSink sink, void* context) {
  out.AlignTo16();
  std::vector<uint8_t>& bytes = out.Bytes();
  sink(context, bytes.data(), bytes.size(), written - frameStart);
  bytes.clear();
  frameStart = written;
}

void LzxStream::Advance(uint32_t bytes, LzxFrameSink sink, void* context) {
  written += bytes;
  if (written - frameStart == kFrameSize) FlushFrame(sink, context);
}

void LzxStream::PushFrame(LzxFrameSink sink, void* context) {
  if (e8Size && framesIn < kE8MaxFrames) E8Translate(frame.data(), frameFill, framesIn * kFrameSize, e8Size);
  mf.Append(frame.data(), frameFill, parsed);
  ++framesIn;
  frameFill = 0;
  if (mf.End() - found >= kChunk) Step(found + kChunk, sink, context);
}

// Finds the matches of [found, findEnd) on a second thread while the run
// found before is parsed and written. The two share only what both read
// (the buffer); the output is the same as one thread's.
void LzxStream::Step(uint32_t findEnd, LzxFrameSink sink, void* context) {
  std::thread finder;
  const int target = findEnd != found ? (waiting == 0 ? 1 : 0) : -1;
  if (target >= 0) {
    const uint32_t from = found;
    finder = std::thread([this, from, findEnd, target] {
      parser.FindMatches(mf, from, findEnd, streamStart, caches[target]);
    });
  }
  if (waiting >= 0) {
    const MatchCache& cache = caches[waiting];
    parser.Parse(mf, cache, streamStart, queue, prices, items);
    parsed = cache.end;
    Encode(cache, sink, context);
    queue = writtenQueue;
  }
  if (finder.joinable()) finder.join();
  if (target >= 0) found = findEnd;
  waiting = target;
}

// Cuts items at frame ends (no item crosses one).
void LzxStream::Cut(const std::vector<Item>& run, uint32_t start, uint32_t end, std::vector<Segment>& out) const {
  out.clear();
  uint32_t pos = start;
  size_t i = 0;
  while (pos < end) {
    Segment s;
    s.firstItem = i;
    s.start = pos;
    const uint32_t stop = std::min(end, streamStart + ((pos - streamStart) / kFrameSize + 1) * kFrameSize);
    while (pos < stop) {
      s.stats.Add(run[i]);
      pos += run[i++].length;
    }
    s.endItem = i;
    s.end = pos;
    out.push_back(s);
  }
}

void LzxStream::Encode(const MatchCache& cache, LzxFrameSink sink, void* context) {
  Cut(items, cache.start, cache.end, segments);

  // Blocks: consecutive frames merged while one set of trees serves them
  // better than two. Each is then parsed again with its own statistics'
  // prices, from the repeated offsets the blocks before left.
  const int numMain = trees.numMain;
  size_t first = 0;
  BlockStats block = segments[0].stats;
  double blockBits = EstimateBits(block, numMain, segments[0].end - segments[0].start);
  for (size_t k = 1; k <= segments.size(); ++k) {
    if (k < segments.size()) {
      BlockStats merged = block;
      merged.Add(segments[k].stats);
      const double mergedBits = EstimateBits(merged, numMain, segments[k].end - segments[first].start);
      const double segBits = EstimateBits(segments[k].stats, numMain, segments[k].end - segments[k].start);
      if (mergedBits < blockBits + segBits) {
        block = merged;
        blockBits = mergedBits;
        continue;
      }
    }
    Prices blockPrices;
    parser.PricesFromCounts(block.main, block.length, blockPrices);
    const uint32_t from = segments[first].start, to = segments[k - 1].end;
    parser.Reparse(mf, cache, from, to, streamStart, writtenQueue, blockPrices, blockItems);
    Cut(blockItems, from, to, blockSegments);
    BlockStats stats;
    for (const Segment& s : blockSegments) stats.Add(s.stats);
    WriteBlock(blockItems, &blockSegments.front(), &blockSegments.back(), stats, sink, context);
    if (k < segments.size()) {
      first = k;
      block = segments[k].stats;
      blockBits = EstimateBits(block, numMain, segments[k].end - segments[k].start);
    }
  }
}

void LzxStream::WriteBlock(const std::vector<Item>& run, const Segment* first, const Segment* last,
                           const BlockStats& stats, LzxFrameSink sink, void* context) {
  const uint32_t bytes = last->end - first->start;
  BlockPlan plan;
  PlanBlock(stats, bytes, trees, e8Size != 0, plan);

  if (plan.type != kBlockUncompressed && first != last) {
    // Keep every frame within the decoders' input buffer.
    uint64_t header = TreeBits(plan, trees) + 27 + 24 + 64;
    for (const Segment* s = first; s <= last; ++s) {
      uint64_t bits = header;
      for (size_t i = s->firstItem; i < s->endItem; ++i) bits += ItemBits(plan, run[i]);
      if (bits > kMaxFrameBits) {
        for (const Segment* t = first; t <= last; ++t) WriteBlock(run, t, t, t->stats, sink, context);
        return;
      }
      header = 0;
    }
  }

  if (!headerWritten) {
    // Stream header: whether E8 translation is on, and its size.
    out.Put(e8Size != 0, 1);
    if (e8Size) {
      out.Put(e8Size >> 16, 16);
      out.Put(e8Size & 0xFFFF, 16);
    }
    headerWritten = true;
  }

  if (plan.type == kBlockUncompressed) {
    // Decoders take R0..R2 from the block and leave them be through it: the
    // values the items after it expect are those after its own items.
    RepeatQueue after = writtenQueue;
    for (size_t i = first->firstItem; i < last->endItem; ++i) after.Apply(run[i]);
    out.Put(plan.type, 3);
    out.Put(bytes >> 8, 16);
    out.Put(bytes & 0xFF, 8);
    out.PadForRaw();
    for (int r = 0; r < 3; ++r)
      for (int b = 0; b < 4; ++b) out.PutByte((uint8_t)(after.r[r] >> (8 * b)));
    for (const Segment* s = first; s <= last; ++s) {
      const uint32_t n = s->end - s->start;
      out.PutBytes(mf.At(s->start), n);
      if (s == last && (bytes & 1)) out.PutByte(0);
      Advance(n, sink, context);
    }
    writtenQueue = after;
    return;
  }

  WriteBlockHeader(out, plan, bytes, trees);
  memcpy(trees.main, plan.main, sizeof trees.main);
  memcpy(trees.length, plan.length, sizeof trees.length);
  BlockCoder coder(plan, trees.numMain);
  for (size_t i = first->firstItem; i < last->endItem; ++i) {
    coder.Write(out, run[i]);
    writtenQueue.Apply(run[i]);
    Advance(run[i].length, sink, context);
  }
}

LzxStream* LzxBegin(int windowBits, uint32_t e8TranslationSize) {
  if (windowBits < 15 || windowBits > 21) return nullptr;
  return new LzxStream(windowBits, e8TranslationSize);
}

void LzxWrite(LzxStream* s, const uint8_t* data, size_t size, LzxFrameSink sink, void* context) {
  while (size) {
    const size_t n = std::min<size_t>(size, kFrameSize - s->frameFill);
    memcpy(s->frame.data() + s->frameFill, data, n);
    s->frameFill += (uint32_t)n;
    data += n;
    size -= n;
    if (s->frameFill == kFrameSize) s->PushFrame(sink, context);
  }
}

void LzxEnd(LzxStream* s, LzxFrameSink sink, void* context) {
  if (s->frameFill) s->PushFrame(sink, context);
  while (s->found != s->mf.End()) s->Step(std::min(s->mf.End(), s->found + kChunk), sink, context);
  s->Step(s->found, sink, context);
  if (s->written != s->frameStart) s->FlushFrame(sink, context);
  delete s;
}
