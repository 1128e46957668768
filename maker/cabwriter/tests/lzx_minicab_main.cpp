// lzx-minicab OUT.cab [-w BITS] [-e8 SIZE] FILE...: packs the files (named by
// their base names) into one LZX folder.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>

#include "lzx_minicab.h"

int main(int argc, char** argv) {
  if (argc < 3) {
    fprintf(stderr, "usage: lzx-minicab OUT.cab [-w BITS] [-e8 SIZE] FILE...\n");
    return 2;
  }
  int windowBits = 21;
  uint32_t e8 = 12000000;
  std::vector<MiniCabFile> files;
  for (int i = 2; i < argc; ++i) {
    if (!strcmp(argv[i], "-w") && i + 1 < argc) {
      windowBits = atoi(argv[++i]);
      continue;
    }
    if (!strcmp(argv[i], "-e8") && i + 1 < argc) {
      e8 = (uint32_t)strtoul(argv[++i], nullptr, 0);
      continue;
    }
    std::ifstream in(argv[i], std::ios::binary);
    if (!in) {
      fprintf(stderr, "cannot read %s\n", argv[i]);
      return 1;
    }
    MiniCabFile f;
    const char* slash = strrchr(argv[i], '/');
    f.name = std::to_string(files.size()) + "_" + (slash ? slash + 1 : argv[i]);
    f.data.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    files.push_back(std::move(f));
  }
  std::vector<uint8_t> cab = MakeMiniCab(files, windowBits, e8);
  FILE* out = fopen(argv[1], "wb");
  if (!out || fwrite(cab.data(), 1, cab.size(), out) != cab.size() || fclose(out)) {
    fprintf(stderr, "cannot write %s\n", argv[1]);
    return 1;
  }
  return 0;
}
