#include "lzx_parser.h"

#include <algorithm>
#include <cstring>

#include "lzx_huffman.h"

namespace lzx {

namespace {

constexpr uint32_t kInfinite = 0xFFFFFFFFu;
constexpr size_t kMaxMatchesPerPosition = 24;

inline uint32_t MatchLength(const uint8_t* a, const uint8_t* b, uint32_t max) { return ExtendMatch(a, b, 0, max); }

inline uint32_t FrameEnd(uint32_t pos, uint32_t streamStart) {
  return streamStart + ((pos - streamStart) / kFrameSize + 1) * kFrameSize;
}

}  // namespace

Parser::Parser(int windowBits, uint32_t maxChunk, ParserOptions options)
    : numMain_(kNumChars + PositionSlots(windowBits) * 8),
      options_(options),
      nodes_(maxChunk + 1) {}

void Parser::DefaultPrices(Prices& prices) const {
  for (int i = 0; i < kMaxMainSymbols; ++i) prices.main[i] = i < kNumChars ? 8 : 10;
  for (int i = 0; i < kNumLengthSymbols; ++i) prices.length[i] = 7;
}

void Parser::PricesFromCounts(const uint32_t* mainCounts, const uint32_t* lengthCounts, Prices& prices) const {
  uint32_t counts[kMaxMainSymbols];
  uint8_t lengths[kMaxMainSymbols];
  for (int i = 0; i < numMain_; ++i) counts[i] = mainCounts[i] * 4 + 1;
  BuildCodeLengths(counts, numMain_, kMaxCodeLength, lengths);
  for (int i = 0; i < numMain_; ++i) prices.main[i] = lengths[i];
  for (int i = 0; i < kNumLengthSymbols; ++i) counts[i] = lengthCounts[i] * 4 + 1;
  BuildCodeLengths(counts, kNumLengthSymbols, kMaxCodeLength, lengths);
  for (int i = 0; i < kNumLengthSymbols; ++i) prices.length[i] = lengths[i];
}

void Parser::FindMatches(MatchFinder& mf, uint32_t start, uint32_t end, uint32_t streamStart,
                         MatchCache& cache) const {
  cache.start = start;
  cache.end = end;
  cache.matches.clear();
  cache.index.resize(end - start + 1);
  const uint32_t nice = (uint32_t)options_.niceLength;
  Match found[kMaxMatch + 1];
  uint32_t skip = 0;
  for (uint32_t pos = start; pos < end; ++pos) {
    cache.index[pos - start] = (uint32_t)cache.matches.size();
    const uint32_t frameEnd = std::min(FrameEnd(pos, streamStart), end);
    uint32_t cap = std::min<uint32_t>(kMaxMatch, frameEnd - pos);
    const uint32_t limit = std::min(nice, end - pos);
    mf.Prefetch(pos + 4);
    if (skip) {
      --skip;
      mf.Skip(pos, end);
      continue;
    }
    int n = mf.Find(pos, end, found);
    if (pos - streamStart == 0) n = 0;  // nothing behind the first byte
    uint32_t last = 1;
    for (int k = 0; k < n; ++k) {
      Match m = found[k];
      if (m.offset > pos - streamStart) break;
      if (k == n - 1 && m.length == limit) {
        // The tree compares no further than nice: see how far it really goes.
        const uint8_t* cur = mf.At(pos);
        m.length += MatchLength(cur + m.length, cur + m.length - m.offset, cap > m.length ? cap - m.length : 0);
      }
      if (m.length > cap) m.length = cap;
      if (m.length <= last) continue;
      last = m.length;
      cache.matches.push_back(m);
    }
    // Keep the memory bounded whatever the data: the longest few suffice.
    const size_t first = cache.index[pos - start];
    if (cache.matches.size() - first > kMaxMatchesPerPosition)
      cache.matches.erase(cache.matches.begin() + first,
                          cache.matches.end() - kMaxMatchesPerPosition);
    if (last >= nice) skip = last - 1;
  }
  cache.index[end - start] = (uint32_t)cache.matches.size();
}

void Parser::Optimize(const MatchFinder& mf, const MatchCache& cache, uint32_t from, uint32_t to, uint32_t streamStart,
                      const RepeatQueue& queue, const Prices& prices, std::vector<Item>& items) {
  const uint32_t start = from, end = to;
  const uint32_t n = end - start;
  const uint32_t* index = cache.index.data() + (from - cache.start);
  const uint32_t nice = (uint32_t)options_.niceLength;
  for (uint32_t i = 1; i <= n; ++i) nodes_[i].cost = kInfinite;
  Node& first = nodes_[0];
  first.cost = 0;
  first.length = 0;
  memcpy(first.r, queue.r, sizeof first.r);

  auto relax = [&](uint32_t to, uint32_t cost, uint32_t length, uint32_t code, uint32_t r0, uint32_t r1, uint32_t r2) {
    Node& node = nodes_[to];
    if (cost < node.cost) {
      node.cost = cost;
      node.length = length;
      node.code = code;
      node.r[0] = r0;
      node.r[1] = r1;
      node.r[2] = r2;
    }
  };
  auto lengthPrice = [&](uint32_t len) { return len >= 9 ? prices.length[len - 9] : 0; };

  uint32_t i = 0;
  while (i < n) {
    const Node node = nodes_[i];
    const uint32_t pos = start + i;
    const uint8_t* cur = mf.At(pos);
    const uint32_t history = pos - streamStart;
    const uint32_t cap = std::min<uint32_t>(kMaxMatch, std::min(FrameEnd(pos, streamStart), end) - pos);
    relax(i + 1, node.cost + prices.main[cur[0]], 1, cur[0], node.r[0], node.r[1], node.r[2]);
    if (cap < 2) {
      ++i;
      continue;
    }
    uint32_t repLen[3] = {0, 0, 0};
    for (int r = 0; r < 3; ++r) {
      const uint32_t off = node.r[r];
      if (off > history || (r > 0 && off == node.r[0]) || (r == 2 && off == node.r[1])) continue;
      repLen[r] = MatchLength(cur, cur - off, cap);
    }
    const Match* matches = cache.matches.data() + index[i];
    const uint32_t numMatches = index[i + 1] - index[i];
    const uint32_t longest = numMatches ? matches[numMatches - 1].length : 0;
    int bestRep = 0;
    for (int r = 1; r < 3; ++r)
      if (repLen[r] > repLen[bestRep]) bestRep = r;

    if (repLen[bestRep] >= nice || longest >= nice) {
      // Long enough to take outright.
      if (repLen[bestRep] >= longest) {
        const uint32_t len = repLen[bestRep];
        const uint32_t price = prices.main[MainSymbol(bestRep, len)] + lengthPrice(len);
        uint32_t q[3] = {node.r[0], node.r[1], node.r[2]};
        if (bestRep) std::swap(q[0], q[bestRep]);
        relax(i + len, node.cost + price, len, bestRep, q[0], q[1], q[2]);
        i += len;
      } else {
        const Match& m = matches[numMatches - 1];
        const int slot = SlotOf(m.offset + 2);
        const uint32_t price = prices.main[MainSymbol(slot, m.length)] + lengthPrice(m.length) + ExtraBits(slot);
        relax(i + m.length, node.cost + price, m.length, m.offset + 2, m.offset, node.r[0], node.r[1]);
        i += m.length;
      }
      continue;
    }

    for (int r = 0; r < 3; ++r) {
      if (repLen[r] < 2) continue;
      uint32_t q[3] = {node.r[0], node.r[1], node.r[2]};
      if (r) std::swap(q[0], q[r]);
      for (uint32_t len = 2; len <= repLen[r]; ++len)
        relax(i + len, node.cost + prices.main[MainSymbol(r, len)] + lengthPrice(len), len, (uint32_t)r, q[0], q[1],
              q[2]);
    }
    uint32_t len = 2;
    for (uint32_t k = 0; k < numMatches; ++k) {
      const Match& m = matches[k];
      const int slot = SlotOf(m.offset + 2);
      const uint32_t base = node.cost + ExtraBits(slot);
      const uint32_t* mainPrices = &prices.main[kNumChars + slot * 8 - kMinMatch];
      for (; len <= m.length; ++len) {
        const uint32_t price = len < 9 ? mainPrices[len] : mainPrices[9] + prices.length[len - 9];
        relax(i + len, base + price, len, m.offset + 2, m.offset, node.r[0], node.r[1]);
      }
    }
    ++i;
  }

  items.clear();
  for (uint32_t j = n; j > 0; j -= nodes_[j].length) items.push_back({nodes_[j].length, nodes_[j].code});
  std::reverse(items.begin(), items.end());
}

void Parser::Parse(const MatchFinder& mf, const MatchCache& cache, uint32_t streamStart, RepeatQueue& queue,
                   Prices& prices, std::vector<Item>& items) {
  uint32_t mainCounts[kMaxMainSymbols];
  uint32_t lengthCounts[kNumLengthSymbols];
  for (int pass = 0; pass < options_.passes; ++pass) {
    Optimize(mf, cache, cache.start, cache.end, streamStart, queue, prices, items);
    memset(mainCounts, 0, sizeof mainCounts);
    memset(lengthCounts, 0, sizeof lengthCounts);
    RepeatQueue q = queue;
    for (const Item& item : items) {
      if (item.length == 1) {
        mainCounts[item.code]++;
        continue;
      }
      const int slot = item.code < 3 ? (int)item.code : SlotOf(item.code);
      mainCounts[MainSymbol(slot, (int)item.length)]++;
      if (item.length >= 9) lengthCounts[item.length - 9]++;
      q.Apply(item);
    }
    PricesFromCounts(mainCounts, lengthCounts, prices);
    if (pass == options_.passes - 1) queue = q;
  }
}

}  // namespace lzx
