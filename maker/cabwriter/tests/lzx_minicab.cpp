#include "lzx_minicab.h"

#include "lzx_encoder.h"

namespace {

void Put16(std::vector<uint8_t>& v, uint32_t x) {
  v.push_back((uint8_t)x);
  v.push_back((uint8_t)(x >> 8));
}
void Put32(std::vector<uint8_t>& v, uint32_t x) {
  Put16(v, x & 0xFFFF);
  Put16(v, x >> 16);
}
void Set32(std::vector<uint8_t>& v, size_t at, uint32_t x) {
  for (int i = 0; i < 4; ++i) v[at + i] = (uint8_t)(x >> (8 * i));
}

struct Frames {
  std::vector<uint8_t> data;
  uint32_t count = 0;
};

// The cabinet checksum: 32-bit little-endian words XORed, a tail of 1 to 3
// bytes taken most significant first.
uint32_t Checksum(const uint8_t* p, size_t n, uint32_t sum) {
  for (; n >= 4; n -= 4, p += 4) sum ^= (uint32_t)p[0] | p[1] << 8 | p[2] << 16 | (uint32_t)p[3] << 24;
  uint32_t tail = 0;
  for (size_t i = 0; i < n; ++i) tail = tail << 8 | p[i];
  return sum ^ tail;
}

void Collect(void* context, const uint8_t* compressed, size_t size, uint32_t uncompressed) {
  Frames* f = static_cast<Frames*>(context);
  uint8_t sizes[4] = {(uint8_t)size, (uint8_t)(size >> 8), (uint8_t)uncompressed, (uint8_t)(uncompressed >> 8)};
  Put32(f->data, Checksum(sizes, 4, Checksum(compressed, size, 0)));
  Put16(f->data, (uint32_t)size);
  Put16(f->data, uncompressed);
  f->data.insert(f->data.end(), compressed, compressed + size);
  f->count++;
}

}  // namespace

std::vector<uint8_t> MakeMiniCab(const std::vector<MiniCabFile>& files, int windowBits, uint32_t e8Size) {
  Frames frames;
  LzxStream* s = LzxBegin(windowBits, e8Size);
  for (const MiniCabFile& f : files) LzxWrite(s, f.data.data(), f.data.size(), Collect, &frames);
  LzxEnd(s, Collect, &frames);

  std::vector<uint8_t> cab;
  cab.insert(cab.end(), {'M', 'S', 'C', 'F'});
  Put32(cab, 0);
  Put32(cab, 0);  // cabinet size, set below
  Put32(cab, 0);
  Put32(cab, 36 + 8);  // first CFFILE
  Put32(cab, 0);
  cab.push_back(3);
  cab.push_back(1);
  Put16(cab, 1);
  Put16(cab, (uint32_t)files.size());
  Put16(cab, 0);
  Put16(cab, 0x1234);
  Put16(cab, 0);
  const size_t folder = cab.size();
  Put32(cab, 0);  // first CFDATA, set below
  Put16(cab, frames.count);
  Put16(cab, 0x0003 | (uint32_t)windowBits << 8);
  uint32_t offset = 0;
  for (const MiniCabFile& f : files) {
    Put32(cab, (uint32_t)f.data.size());
    Put32(cab, offset);
    Put16(cab, 0);
    Put16(cab, 0x5A21);  // 2025-01-01
    Put16(cab, 0);
    Put16(cab, 0x20);
    cab.insert(cab.end(), f.name.begin(), f.name.end());
    cab.push_back(0);
    offset += (uint32_t)f.data.size();
  }
  Set32(cab, folder, (uint32_t)cab.size());
  cab.insert(cab.end(), frames.data.begin(), frames.data.end());
  Set32(cab, 8, (uint32_t)cab.size());
  return cab;
}
