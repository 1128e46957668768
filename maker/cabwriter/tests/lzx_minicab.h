// A minimal one-folder LZX cabinet , for checking the encoder
// against independent decoders.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

struct MiniCabFile {
  std::string name;
  std::vector<uint8_t> data;
};

// Returns the cabinet's bytes. e8Size 0 leaves the E8 translation off.
std::vector<uint8_t> MakeMiniCab(const std::vector<MiniCabFile>& files, int windowBits, uint32_t e8Size);
