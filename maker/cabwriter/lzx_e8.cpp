#include "lzx_e8.h"

namespace lzx {

void E8Translate(uint8_t* frame, uint32_t size, uint32_t frameStart, uint32_t translationSize) {
  if (size <= 10) return;
  const int64_t limit = (int64_t)(int32_t)translationSize;
  for (uint32_t i = 0; i < size - 10;) {
    if (frame[i] != 0xE8) {
      ++i;
      continue;
    }
    uint8_t* p = frame + i + 1;
    const int64_t curpos = (int64_t)frameStart + i;
    const int64_t rel = (int32_t)((uint32_t)p[0] | (uint32_t)p[1] << 8 | (uint32_t)p[2] << 16 | (uint32_t)p[3] << 24);
    // Decoders map abs in [-curpos, size) back to rel, a permutation of that
    // interval: this is its inverse.
    if (rel >= -curpos && rel < limit) {
      const int64_t abs = rel < limit - curpos ? rel + curpos : rel - limit;
      const uint32_t v = (uint32_t)(int32_t)abs;
      p[0] = (uint8_t)v;
      p[1] = (uint8_t)(v >> 8);
      p[2] = (uint8_t)(v >> 16);
      p[3] = (uint8_t)(v >> 24);
    }
    i += 5;
  }
}

}  // namespace lzx
