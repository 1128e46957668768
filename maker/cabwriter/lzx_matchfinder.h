// Binary-tree match finder over a sliding window. Positions are absolute
// (counted from the start of the stream plus a bias) so that the trees
// survive the buffer sliding under them.
#pragma once
#include <cstddef>
#include <cstdint>
#include <vector>

namespace lzx {

struct Match {
  uint32_t length;
  uint32_t offset;
};

// How far a and b agree, from len up to limit (both readable that far).
inline uint32_t ExtendMatch(const uint8_t* a, const uint8_t* b, uint32_t len, uint32_t limit) {
  while (len + 8 <= limit) {
    uint64_t x, y;
    __builtin_memcpy(&x, a + len, 8);
    __builtin_memcpy(&y, b + len, 8);
    if (x != y) return len + (uint32_t)(__builtin_ctzll(x ^ y) >> 3);  // little-endian host
    len += 8;
  }
  while (len < limit && a[len] == b[len]) ++len;
  return len;
}

class MatchFinder {
 public:
  // lookAhead: bytes held beyond the window; maxDepth: tree nodes visited
  // per position; niceLength: how far matches are compared.
  MatchFinder(int windowBits, uint32_t lookAhead, int maxDepth, uint32_t niceLength);

  // Appends bytes at the end of the buffer; keeps the last window of bytes
  // before keepFrom (an absolute position) and drops older ones.
  void Append(const uint8_t* data, size_t size, uint32_t keepFrom);

  uint32_t Begin() const { return base_; }            // absolute position of the oldest byte held
  uint32_t End() const { return base_ + (uint32_t)size_; }  // one past the newest byte
  const uint8_t* At(uint32_t pos) const { return buf_.data() + (pos - base_); }

  // Inserts pos into its tree and writes the matches found to out (room for
  // niceLength) in order of increasing length (each longer than the last; 2
  // bytes only close by): returns their number. Bytes are compared up to
  // niceLength, and never at or past end.
  int Find(uint32_t pos, uint32_t end, Match* out);
  // Starts loading what Find or Skip of pos will look at first.
  void Prefetch(uint32_t pos) const;
  // Inserts pos without reporting matches.
  void Skip(uint32_t pos, uint32_t end);

  // The first absolute position; matches never reach before it.
  static constexpr uint32_t kStart = 1u << 22;

 private:
  int Search(uint32_t pos, uint32_t end, Match* out, bool report);

  uint32_t windowMask_;
  uint32_t maxOffset_;
  int maxDepth_;
  uint32_t niceLength_;
  std::vector<uint8_t> buf_;
  size_t size_ = 0;
  uint32_t base_ = kStart;
  std::vector<uint32_t> head4_;
  std::vector<uint32_t> head3_;
  std::vector<uint32_t> head2_;
  std::vector<uint32_t> tree_;  // two children per window slot
};

}  // namespace lzx
