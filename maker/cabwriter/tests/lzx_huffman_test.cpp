// Length-limited codes: a fault here shows only on skewed statistics, which
// ordinary round trips rarely reach.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <functional>
#include <map>
#include <random>
#include <vector>

#include "lzx_huffman.h"

namespace {

// Kraft sum in units of 2^-limit.
uint64_t KraftUnits(const std::vector<uint8_t>& lengths, int limit) {
  uint64_t sum = 0;
  for (uint8_t l : lengths)
    if (l) sum += uint64_t(1) << (limit - l);
  return sum;
}

uint64_t Cost(const std::vector<uint32_t>& counts, const std::vector<uint8_t>& lengths) {
  uint64_t c = 0;
  for (size_t i = 0; i < counts.size(); ++i) c += (uint64_t)counts[i] * lengths[i];
  return c;
}

// The least cost of any prefix code with lengths <= limit, by exhaustive
// search over non-decreasing lengths for weights taken heaviest first.
uint64_t OptimalCost(std::vector<uint32_t> counts, int limit) {
  counts.erase(std::remove(counts.begin(), counts.end(), 0u), counts.end());
  std::sort(counts.rbegin(), counts.rend());
  if (counts.size() < 2) return counts.empty() ? 0 : counts[0];
  const uint64_t full = uint64_t(1) << limit;
  std::map<std::tuple<size_t, int, uint64_t>, uint64_t> memo;
  std::function<uint64_t(size_t, int, uint64_t)> best = [&](size_t i, int minLen, uint64_t used) -> uint64_t {
    if (i == counts.size()) return 0;
    auto key = std::make_tuple(i, minLen, used);
    auto it = memo.find(key);
    if (it != memo.end()) return it->second;
    uint64_t result = UINT64_MAX;
    for (int l = minLen; l <= limit; ++l) {
      const uint64_t unit = uint64_t(1) << (limit - l);
      // The symbols left must still fit at the longest length.
      if (used + unit + (counts.size() - i - 1) > full) continue;
      const uint64_t rest = best(i + 1, l, used + unit);
      if (rest != UINT64_MAX) result = std::min(result, (uint64_t)counts[i] * l + rest);
    }
    return memo[key] = result;
  };
  return best(0, 1, 0);
}

std::vector<uint32_t> Fibonacci(int n) {
  std::vector<uint32_t> f = {1, 1};
  while ((int)f.size() < n) f.push_back(f[f.size() - 1] + f[f.size() - 2]);
  return f;
}

TEST(LzxHuffman, SkewedCountsStayWithinTheLimitAndComplete) {
  // Fibonacci counts make an unlimited Huffman code as deep as there are
  // symbols; the trees' 16-bit (and 7- and 15-bit) limits must hold with a
  // complete code (decoders reject an incomplete one).
  for (int limit : {7, 15, 16}) {
    for (int n : {20, 30, 45}) {
      std::vector<uint32_t> counts = Fibonacci(n);
      std::shuffle(counts.begin(), counts.end(), std::mt19937(n));
      std::vector<uint8_t> lengths(counts.size());
      lzx::BuildCodeLengths(counts.data(), (int)counts.size(), limit, lengths.data());
      EXPECT_LE(*std::max_element(lengths.begin(), lengths.end()), limit) << "n=" << n;
      EXPECT_EQ(KraftUnits(lengths, limit), uint64_t(1) << limit) << "n=" << n << " limit=" << limit;
      for (size_t i = 0; i < counts.size(); ++i) EXPECT_GE(lengths[i], 1) << i;
    }
  }
}

TEST(LzxHuffman, LimitedLengthsAreOptimal) {
  std::mt19937 rng(5);
  for (int round = 0; round < 40; ++round) {
    const int limit = round % 2 ? 5 : 7;
    const int n = 3 + (int)(rng() % 14);
    std::vector<uint32_t> counts(n);
    for (uint32_t& c : counts) c = round % 3 == 0 ? 0 : (uint32_t)(1u << (rng() % 20)) + rng() % 7;
    if (round % 3 == 0) counts = Fibonacci(n);
    if (round % 4 == 1) counts[rng() % n] = 0;  // unused symbols get no code
    std::vector<uint8_t> lengths(n);
    lzx::BuildCodeLengths(counts.data(), n, limit, lengths.data());
    for (int i = 0; i < n; ++i) EXPECT_EQ(counts[i] == 0, lengths[i] == 0);
    EXPECT_EQ(Cost(counts, lengths), OptimalCost(counts, limit)) << "round " << round;
  }
}

TEST(LzxHuffman, CanonicalCodewordsArePrefixFree) {
  std::vector<uint32_t> counts = Fibonacci(40);
  std::vector<uint8_t> lengths(counts.size());
  std::vector<uint16_t> codes(counts.size());
  lzx::BuildCodeLengths(counts.data(), (int)counts.size(), 16, lengths.data());
  lzx::BuildCodewords(lengths.data(), (int)counts.size(), codes.data());
  for (size_t a = 0; a < codes.size(); ++a)
    for (size_t b = 0; b < codes.size(); ++b) {
      if (a == b || lengths[a] > lengths[b]) continue;
      EXPECT_NE(codes[b] >> (lengths[b] - lengths[a]), codes[a]) << a << " is a prefix of " << b;
    }
}

}  // namespace
