// Whole streams decoded by decoders that share no code with the encoder:
// cabextract, and gcab's reader where it is installed.
#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

#include "lzx_encoder.h"
#include "lzx_minicab.h"

namespace {

bool Have(const char* tool) {
  std::string cmd = std::string("command -v ") + tool + " >/dev/null 2>&1";
  return system(cmd.c_str()) == 0;
}

std::vector<uint8_t> ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

class LzxRoundTrip : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!Have("cabextract")) GTEST_SKIP() << "cabextract is not installed (scripts/install-deps.sh installs it)";
    char tmpl[] = "/tmp/lzx-test-XXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    dir_ = tmpl;
  }
  void TearDown() override {
    if (!dir_.empty()) system(("rm -rf '" + dir_ + "'").c_str());
  }

  // Packs the files into one folder and checks that each decoder gives
  // them all back. Returns the cabinet's size.
  size_t RoundTrip(const std::vector<MiniCabFile>& files, int windowBits = 21, uint32_t e8 = 12000000) {
    std::vector<uint8_t> cab = MakeMiniCab(files, windowBits, e8);
    const std::string path = dir_ + "/t.cab";
    {
      std::ofstream out(path, std::ios::binary);
      out.write((const char*)cab.data(), (std::streamsize)cab.size());
    }
    struct Decoder {
      const char* tool;
      std::string command;
    };
    std::vector<Decoder> decoders = {{"cabextract", "cabextract -q -d '" + dir_ + "/cabextract' '" + path + "'"},
                                     {"gcab", "mkdir -p '" + dir_ + "/gcab' && gcab -x -C '" + dir_ + "/gcab' '" + path + "'"}};
    for (const Decoder& d : decoders) {
      if (!Have(d.tool)) continue;
      EXPECT_EQ(system((d.command + " >/dev/null 2>&1").c_str()), 0) << d.tool << " failed, window " << windowBits;
      for (const MiniCabFile& f : files) {
        std::vector<uint8_t> back = ReadFile(dir_ + "/" + d.tool + "/" + f.name);
        EXPECT_TRUE(back == f.data) << d.tool << ": " << f.name << " differs (" << back.size() << " of "
                                    << f.data.size() << " bytes), window " << windowBits << ", e8 " << e8;
      }
      system(("rm -rf '" + dir_ + "/" + d.tool + "'").c_str());
    }
    return cab.size();
  }

  std::string dir_;
};

std::vector<uint8_t> Random(size_t n, uint32_t seed) {
  std::mt19937 rng(seed);
  std::vector<uint8_t> v(n);
  for (uint8_t& b : v) b = (uint8_t)rng();
  return v;
}

// Something like x86 code: calls (E8 and a relative operand) among short
// instructions, with repeats the match finder can use.
std::vector<uint8_t> CodeLike(size_t n, uint32_t seed) {
  std::mt19937 rng(seed);
  std::vector<uint8_t> v;
  const uint8_t ops[] = {0x55, 0x89, 0xE5, 0x8B, 0x45, 0x08, 0x5D, 0xC3, 0x90, 0x83, 0xEC, 0x10};
  while (v.size() < n) {
    if (rng() % 5 == 0) {
      // Calls to a few targets: relative operands differ, absolute ones repeat.
      const int32_t target = (int32_t)(rng() % 16) * 4096 + 0x1000;
      const int32_t rel = target - (int32_t)(v.size() + 5);
      v.push_back(0xE8);
      for (int i = 0; i < 4; ++i) v.push_back((uint8_t)(rel >> (8 * i)));
    } else {
      v.push_back(ops[rng() % sizeof ops]);
    }
  }
  v.resize(n);
  return v;
}

TEST_F(LzxRoundTrip, SmallAndEdgeSizes) {
  // Empty and one-byte files, frames of 10 and 11 bytes (the E8 translation
  // starts above 10), and sizes either side of a frame.
  std::vector<uint8_t> code = CodeLike(70000, 1);
  RoundTrip({{"empty", {}}, {"one", {'x'}}});
  for (size_t n : {10, 11, 32767, 32768, 32769, 65536 + 3})
    RoundTrip({{"f" + std::to_string(n), std::vector<uint8_t>(code.begin(), code.begin() + n)}});
}

TEST_F(LzxRoundTrip, IncompressibleDataCostsLittleMoreThanItsSize) {
  std::vector<uint8_t> noise = Random(300000, 2);
  const size_t size = RoundTrip({{"noise", noise}});
  // Uncompressed blocks: a few bytes of header per block, no expansion.
  EXPECT_LT(size, noise.size() + 200 + (noise.size() / 32768 + 1) * 8);
}

TEST_F(LzxRoundTrip, LongRunsMeetFrameEnds) {
  // Maximal matches everywhere, cut at every frame end.
  std::vector<uint8_t> runs(5 * 32768 + 123, 'a');
  for (size_t i = 40000; i < 41000; ++i) runs[i] = (uint8_t)i;
  const size_t size = RoundTrip({{"runs", runs}});
  EXPECT_LT(size, 2000u);
}

TEST_F(LzxRoundTrip, CodeWithCallsAtEveryWindow) {
  std::vector<uint8_t> code = CodeLike(400000, 3);
  for (int window : {15, 16, 21}) {
    const size_t withE8 = RoundTrip({{"code", code}}, window);
    const size_t without = RoundTrip({{"code", code}}, window, 0);
    // Translated calls to the same target repeat, so they compress better.
    EXPECT_LT(withE8, without) << "window " << window;
  }
}

TEST_F(LzxRoundTrip, MatchesReachAcrossTheWholeWindowAndItsWrap) {
  // A random stretch seen again from just under 2 MiB away, past the point
  // where the decoder's window wraps.
  std::vector<uint8_t> first = Random(1200 * 1024, 4);
  std::vector<uint8_t> data = first;
  data.resize(data.size() + 850000, 0);
  data.insert(data.end(), first.begin(), first.begin() + 900000);
  const size_t size = RoundTrip({{"far", data}});
  EXPECT_LT(size, first.size() + 100000);
  // A smaller window cannot reach back that far, and must not try.
  RoundTrip({{"far", data}}, 20);
}

// Random bytes in which no three-byte string occurs twice (nor any marked
// used before), so that no match can be found in them.
std::vector<uint8_t> Unmatchable(size_t n, uint32_t seed, std::vector<bool>& used) {
  std::mt19937 rng(seed);
  std::vector<uint8_t> v = {(uint8_t)rng(), (uint8_t)rng()};
  while (v.size() < n) {
    const uint32_t prefix = (uint32_t)v[v.size() - 2] << 16 | (uint32_t)v[v.size() - 1] << 8;
    uint32_t c = rng() & 0xFF;
    while (used[prefix | c]) c = (c + 1) & 0xFF;
    used[prefix | c] = true;
    v.push_back((uint8_t)c);
  }
  return v;
}

TEST_F(LzxRoundTrip, RepeatedOffsetsCarryAcrossBlocks) {
  // Period-997 data: once the first match sets R0, every later match is a
  // repeat of it, across the end of each chunk of blocks, and across
  // uncompressed blocks of unmatchable noise, whose R0..R2 the decoder
  // takes from the block itself.
  std::vector<bool> used(1 << 24);
  std::vector<uint8_t> period = Unmatchable(997, 5, used), data;
  while (data.size() < 600 * 1024) data.insert(data.end(), period.begin(), period.end());
  std::vector<uint8_t> noise = Unmatchable(1000 * 1024, 6, used);
  data.insert(data.end(), noise.begin(), noise.end());
  std::vector<uint8_t> again = Unmatchable(997, 7, used);
  for (int i = 0; i < 100; ++i) data.insert(data.end(), again.begin(), again.end());
  RoundTrip({{"repeats", data}});
}

TEST_F(LzxRoundTrip, ManyFilesInOneFolderAndSameBytesEachTime) {
  std::vector<MiniCabFile> files;
  std::vector<uint8_t> code = CodeLike(200000, 8);
  for (int i = 0; i < 60; ++i) {
    const size_t at = (size_t)i * 2711 % 150000;
    files.push_back({"file" + std::to_string(i), std::vector<uint8_t>(code.begin() + at, code.begin() + at + i * 97)});
  }
  RoundTrip(files);
  EXPECT_TRUE(MakeMiniCab(files, 21, 12000000) == MakeMiniCab(files, 21, 12000000));
}

// The frames of a stream fed in pieces of the given sizes, in turn.
std::vector<uint8_t> Frames(const std::vector<uint8_t>& data, std::vector<size_t> pieces) {
  std::vector<uint8_t> out;
  auto sink = [](void* context, const uint8_t* bytes, size_t size, uint32_t uncompressed) {
    auto* o = static_cast<std::vector<uint8_t>*>(context);
    o->push_back((uint8_t)size);
    o->push_back((uint8_t)(size >> 8));
    o->push_back((uint8_t)uncompressed);
    o->push_back((uint8_t)(uncompressed >> 8));
    o->insert(o->end(), bytes, bytes + size);
  };
  LzxStream* s = LzxBegin(21, 12000000);
  size_t at = 0;
  for (size_t k = 0; at < data.size(); ++k) {
    const size_t n = std::min(pieces[k % pieces.size()], data.size() - at);
    LzxWrite(s, data.data() + at, n, sink, &out);
    at += n;
  }
  LzxEnd(s, sink, &out);
  return out;
}

TEST(LzxStreamBytes, SameWhateverThePiecesTheInputComesIn) {
  std::vector<uint8_t> data = CodeLike(700000, 9);  // more than one chunk
  std::vector<uint8_t> whole = Frames(data, {data.size()});
  EXPECT_TRUE(Frames(data, {1, 7, 32768, 100000, 3}) == whole);
  EXPECT_TRUE(Frames(data, {65536}) == whole);
}

}  // namespace
