#include "lzx_huffman.h"

#include <algorithm>
#include <vector>

namespace lzx {

namespace {

struct Item {
  uint64_t weight;
  int32_t ref;  // >= 0: first of a pair in the previous level; < 0: leaf ~ref (index into sorted leaves)
};

}  // namespace

// Package-merge: level 0 holds the leaves by weight; each next level merges
// the leaves with the pairs of the level before. The 2m-2 lightest items of
// the last level tell each symbol's length: one bit for every time it is used.
void BuildCodeLengths(const uint32_t* counts, int n, int maxLength, uint8_t* lengths) {
  std::vector<int> used;
  for (int i = 0; i < n; ++i) {
    lengths[i] = 0;
    if (counts[i]) used.push_back(i);
  }
  const int m = (int)used.size();
  if (m == 0) return;
  if (m == 1) {
    lengths[used[0]] = 1;
    return;
  }
  // Ties broken by symbol, so equal input always gives equal lengths.
  std::stable_sort(used.begin(), used.end(), [&](int a, int b) { return counts[a] < counts[b]; });

  std::vector<std::vector<Item>> levels(maxLength);
  levels[0].reserve(m);
  for (int i = 0; i < m; ++i) levels[0].push_back({counts[used[i]], ~i});
  for (int level = 1; level < maxLength; ++level) {
    const std::vector<Item>& prev = levels[level - 1];
    std::vector<Item>& cur = levels[level];
    cur.reserve(2 * m);
    size_t leaf = 0, pair = 0;
    const size_t pairs = prev.size() / 2;
    while (leaf < (size_t)m || pair < pairs) {
      if (pair >= pairs ||
          (leaf < (size_t)m && levels[0][leaf].weight <= prev[2 * pair].weight + prev[2 * pair + 1].weight)) {
        cur.push_back(levels[0][leaf++]);
      } else {
        cur.push_back({prev[2 * pair].weight + prev[2 * pair + 1].weight, (int32_t)(2 * pair)});
        ++pair;
      }
    }
  }

  // Count leaf occurrences: walk down from the last level, level by level,
  // carrying how many of each level's leading items are taken.
  std::vector<int> depth(m, 0);
  size_t take = 2 * (size_t)m - 2;
  for (int level = maxLength - 1; level >= 0; --level) {
    size_t next = 0;
    const std::vector<Item>& cur = levels[level];
    for (size_t i = 0; i < take; ++i) {
      if (cur[i].ref < 0)
        ++depth[~cur[i].ref];
      else
        next = std::max(next, (size_t)cur[i].ref + 2);
    }
    take = next;
  }
  for (int i = 0; i < m; ++i) lengths[used[i]] = (uint8_t)depth[i];
}

void BuildCodewords(const uint8_t* lengths, int n, uint16_t* codes) {
  uint32_t count[33] = {0};
  for (int i = 0; i < n; ++i) count[lengths[i]]++;
  count[0] = 0;
  uint32_t next[33] = {0};
  uint32_t code = 0;
  for (int len = 1; len <= 32; ++len) {
    code = (code + count[len - 1]) << 1;
    next[len] = code;
  }
  for (int i = 0; i < n; ++i)
    codes[i] = lengths[i] ? (uint16_t)next[lengths[i]]++ : 0;
}

}  // namespace lzx
