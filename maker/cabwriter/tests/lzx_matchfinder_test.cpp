// The match finder's trees: a fault in them shows as a match longer than the
// bytes agree, which a round trip only catches when the parse happens to
// take that very match.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <random>
#include <vector>

#include "lzx_format.h"
#include "lzx_matchfinder.h"

namespace {

// Repetitive data with variations: runs of a few words, each copied with
// changes, so that many positions agree for a while and then differ.
std::vector<uint8_t> Repetitive(size_t n, uint32_t seed) {
  std::mt19937 rng(seed);
  std::vector<uint8_t> v;
  const char* words[] = {"alpha ", "alpine ", "alps ", "al", "a", "\x00\x00\x00\x00", "\x00\x00\x01"};
  while (v.size() < n) {
    if (v.size() > 64 && rng() % 3 == 0) {
      // Copy an earlier stretch, changing one byte in it.
      const size_t len = 8 + rng() % 120, from = rng() % (v.size() - 8);
      for (size_t i = 0; i < len && from + i < v.size(); ++i) v.push_back(v[from + i]);
      v[v.size() - 1 - rng() % 4] ^= 1;
    } else {
      const char* w = words[rng() % 7];
      const size_t len = w[0] ? strlen(w) : 4 - (rng() % 2);
      v.insert(v.end(), w, w + len);
    }
  }
  v.resize(n);
  return v;
}

TEST(LzxMatchFinder, EveryMatchIsRealAcrossChunkEnds) {
  // Chunks end every few KiB: near their ends the compared length shrinks,
  // and the trees must stay in order for the positions after.
  const std::vector<uint8_t> data = Repetitive(600000, 1);
  for (uint32_t nice : {32u, 48u, 257u}) {
    lzx::MatchFinder mf(16, 1 << 20, 32, nice);
    mf.Append(data.data(), data.size(), lzx::MatchFinder::kStart);
    const uint32_t start = mf.Begin();
    std::vector<lzx::Match> found(lzx::kMaxMatch + 1);
    size_t checked = 0;
    for (uint32_t pos = start; pos < mf.End(); ++pos) {
      const uint32_t chunkEnd = std::min<uint32_t>(mf.End(), start + ((pos - start) / 5000 + 1) * 5000);
      const uint32_t limit = std::min(nice, chunkEnd - pos);
      const int n = mf.Find(pos, chunkEnd, found.data());
      uint32_t last = 0;
      for (int k = 0; k < n; ++k) {
        const lzx::Match m = found[k];
        ASSERT_GT(m.length, last) << "lengths must grow";
        ASSERT_LE(m.length, limit);
        ASSERT_GE(pos - start, m.offset) << "match before the data";
        ASSERT_LE(m.offset, (1u << 16) - 3);
        ASSERT_EQ(0, memcmp(mf.At(pos), mf.At(pos - m.offset), m.length))
            << "at " << pos - start << ": a " << m.length << "-byte match at offset " << m.offset
            << " is not one, nice " << nice;
        last = m.length;
        ++checked;
      }
    }
    EXPECT_GT(checked, data.size() / 4);
  }
}

}  // namespace
