#include "lzx_matchfinder.h"

#include <cstring>

namespace lzx {

namespace {

constexpr int kHash4Bits = 20;
constexpr int kHash3Bits = 15;
constexpr uint32_t kMaxShortOffset = 256;

inline uint32_t Load32(const uint8_t* p) {
  uint32_t v;
  memcpy(&v, p, 4);
  return v;
}
inline uint32_t Hash4(const uint8_t* p) { return (Load32(p) * 0x9E3779B1u) >> (32 - kHash4Bits); }
inline uint32_t Hash3(const uint8_t* p) { return ((Load32(p) & 0xFFFFFF) * 0x9E3779B1u) >> (32 - kHash3Bits); }

}  // namespace

MatchFinder::MatchFinder(int windowBits, uint32_t lookAhead, int maxDepth, uint32_t niceLength)
    : windowMask_((1u << windowBits) - 1),
      maxOffset_((1u << windowBits) - 3),
      maxDepth_(maxDepth),
      niceLength_(niceLength),
      // Room for a window behind what is being compressed, the look-ahead,
      // and a little slack so that comparisons may read a few bytes past the end.
      buf_((size_t(1) << windowBits) + lookAhead + 32768 + 16, 0),
      head4_(size_t(1) << kHash4Bits, 0),
      head3_(size_t(1) << kHash3Bits, 0),
      head2_(size_t(1) << 16, 0),
      tree_(size_t(2) << windowBits, 0) {}

void MatchFinder::Append(const uint8_t* data, size_t size, uint32_t keepFrom) {
  if (size_ + size + 16 > buf_.size()) {
    uint32_t keep = keepFrom - base_ > windowMask_ + 1 ? keepFrom - (windowMask_ + 1) : base_;
    size_t drop = keep - base_;
    memmove(buf_.data(), buf_.data() + drop, size_ - drop);
    size_ -= drop;
    base_ = keep;
  }
  memcpy(buf_.data() + size_, data, size);
  size_ += size;
  memset(buf_.data() + size_, 0, 16);
}

void MatchFinder::Prefetch(uint32_t pos) const {
  if (pos > End() || End() - pos < 4) return;
  __builtin_prefetch(&head4_[Hash4(At(pos))]);
  __builtin_prefetch(&head3_[Hash3(At(pos))]);
}

int MatchFinder::Find(uint32_t pos, uint32_t end, Match* out) { return Search(pos, end, out, true); }
void MatchFinder::Skip(uint32_t pos, uint32_t end) { Search(pos, end, nullptr, false); }

int MatchFinder::Search(uint32_t pos, uint32_t end, Match* out, bool report) {
  if (end > End()) end = End();
  const uint32_t limit = end - pos < niceLength_ ? end - pos : niceLength_;
  if (limit < 4) return 0;  // too close to the end to hash; such a position is left out
  const uint8_t* cur = At(pos);
  int found = 0;
  uint32_t best = 2;

  // Two-byte matches pay only when close.
  const uint32_t h2 = (uint32_t)cur[0] | (uint32_t)cur[1] << 8;
  const uint32_t cand2 = head2_[h2];
  head2_[h2] = pos;
  if (report && cand2 && pos - cand2 <= kMaxShortOffset && cand2 >= base_) {
    out[found++] = {2, pos - cand2};
    best = 2;
  }

  const uint32_t h3 = Hash3(cur);
  const uint32_t cand3 = head3_[h3];
  head3_[h3] = pos;
  if (report && cand3 && pos - cand3 <= maxOffset_ && cand3 >= base_) {
    const uint8_t* p = At(cand3);
    if (p[0] == cur[0] && p[1] == cur[1] && p[2] == cur[2]) {
      if (found && out[0].offset == pos - cand3) found = 0;  // the same match, longer
      out[found++] = {3, pos - cand3};
      best = 3;
    }
  }

  const uint32_t h4 = Hash4(cur);
  uint32_t node = head4_[h4];
  head4_[h4] = pos;
  uint32_t* lessSlot = &tree_[2 * (pos & windowMask_)];
  uint32_t* moreSlot = lessSlot + 1;
  uint32_t lessLen = 0, moreLen = 0;
  int depth = maxDepth_;
  while (node && pos - node <= maxOffset_ && node >= base_ && depth-- > 0) {
    const uint8_t* p = At(node);
    const uint32_t len = ExtendMatch(p, cur, lessLen < moreLen ? lessLen : moreLen, limit);
    uint32_t* children = &tree_[2 * (node & windowMask_)];
    if (len > best) {
      best = len;
      if (report) out[found++] = {len, pos - node};
    }
    if (len >= limit) {
      // Equal as far as we look: we take node's place. Its subtrees are
      // ordered by their first niceLength bytes, so they become ours only
      // if we looked that far; near the end of what may be read they are
      // cut off, or later searches would take for shared what is not.
      *lessSlot = limit == niceLength_ ? children[0] : 0;
      *moreSlot = limit == niceLength_ ? children[1] : 0;
      return found;
    }
    if (p[len] < cur[len]) {
      *lessSlot = node;
      lessSlot = &children[1];
      node = *lessSlot;
      lessLen = len;
    } else {
      *moreSlot = node;
      moreSlot = &children[0];
      node = *moreSlot;
      moreLen = len;
    }
  }
  *lessSlot = 0;
  *moreSlot = 0;
  return found;
}

}  // namespace lzx
