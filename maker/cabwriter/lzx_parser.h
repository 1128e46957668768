// Price-driven parsing of a run of frames into literals and matches.
#pragma once
#include <cstdint>
#include <vector>

#include "lzx_format.h"
#include "lzx_matchfinder.h"

namespace lzx {

// One decoded step: a literal (length 1, code = the byte) or a match
// (length 2..257, code 0..2 = repeated offset R0..R2, else offset + 2).
struct Item {
  uint32_t length;
  uint32_t code;
};

// Bit prices of the main and length symbols.
struct Prices {
  uint32_t main[kMaxMainSymbols];
  uint32_t length[kNumLengthSymbols];
};

// Repeated offsets R0, R1, R2.
struct RepeatQueue {
  uint32_t r[3] = {1, 1, 1};
  void Apply(const Item& item) {
    if (item.length < 2 || item.code == 0) return;
    uint32_t off;
    if (item.code == 1) {
      off = r[1];
      r[1] = r[0];
    } else if (item.code == 2) {
      off = r[2];
      r[2] = r[0];
    } else {
      off = item.code - 2;
      r[2] = r[1];
      r[1] = r[0];
    }
    r[0] = off;
  }
};

struct ParserOptions {
  int niceLength = 96;  // a match this long is taken without weighing alternatives
  int passes = 1;       // parses per chunk, each priced from the last one's statistics
};

// The matches found for a run of positions [start, end).
struct MatchCache {
  uint32_t start = 0, end = 0;
  std::vector<Match> matches;
  std::vector<uint32_t> index;  // matches of position start + i: matches[index[i] .. index[i + 1])
};

class Parser {
 public:
  Parser(int windowBits, uint32_t maxChunk, ParserOptions options);

  // Finds the matches of [start, end) of the match finder's buffer
  // (absolute positions; frames start at streamStart + k * 32768; end is a
  // frame end or the end of the stream). Touches nothing of the parser but
  // its options, so it may run beside Parse of an earlier run.
  void FindMatches(MatchFinder& mf, uint32_t start, uint32_t end, uint32_t streamStart, MatchCache& cache) const;

  // Parses the run whose matches the cache holds. queue is the state
  // before and is set to the state after; prices are the first pass's and
  // are updated from the result.
  void Parse(const MatchFinder& mf, const MatchCache& cache, uint32_t streamStart, RepeatQueue& queue, Prices& prices,
             std::vector<Item>& items);

  // Parses [from, to) of the cached run again, priced by prices (those of
  // the block it became), from the repeated offsets in queue.
  void Reparse(const MatchFinder& mf, const MatchCache& cache, uint32_t from, uint32_t to, uint32_t streamStart,
               const RepeatQueue& queue, const Prices& prices, std::vector<Item>& items) {
    Optimize(mf, cache, from, to, streamStart, queue, prices, items);
  }

  // Prices from symbol counts (every symbol gets a price).
  void PricesFromCounts(const uint32_t* mainCounts, const uint32_t* lengthCounts, Prices& prices) const;
  void DefaultPrices(Prices& prices) const;

 private:
  struct Node {
    uint32_t cost;
    uint32_t length;
    uint32_t code;
    uint32_t r[3];
  };
  void Optimize(const MatchFinder& mf, const MatchCache& cache, uint32_t from, uint32_t to, uint32_t streamStart,
                const RepeatQueue& queue, const Prices& prices, std::vector<Item>& items);

  int numMain_;
  ParserOptions options_;
  std::vector<Node> nodes_;
};

}  // namespace lzx
