// The installer's own 64-bit division (it links no libgcc), called
// through a pointer so the compiler cannot fold the results.
#include <gtest/gtest.h>

extern "C" unsigned long long __udivdi3(unsigned long long, unsigned long long);

namespace {

unsigned long long (*volatile Divide)(unsigned long long, unsigned long long) = __udivdi3;

TEST(NoCrtDivision, QuotientsRoundDown) {
  EXPECT_EQ(14u, Divide(100, 7));
  EXPECT_EQ(0u, Divide(5, 10));
  EXPECT_EQ(0xFFFFFFFFFFFFFFFFull, Divide(0xFFFFFFFFFFFFFFFFull, 1));
  EXPECT_EQ(0x100005B00205ull, Divide(0x123456789ABCDEF0ull, 0x12345));
  // A download's percentage near the end of a 4 GiB package.
  EXPECT_EQ(99u, Divide(0xFFFFFFFFull * 100, 0x100000000ull));
  EXPECT_EQ(0x100000000ull, Divide(0xFEDCBA9876543210ull, 0xFEDCBA98));
}

TEST(NoCrtDivision, DivisorsWithTheTopBitSet) {
  EXPECT_EQ(1u, Divide(0xFFFFFFFFFFFFFFFFull, 0xFFFFFFFFFFFFFFFFull));
  EXPECT_EQ(1u, Divide(0xFFFFFFFFFFFFFFFFull, 0x8000000000000001ull));
  EXPECT_EQ(0u, Divide(0x8000000000000000ull, 0x8000000000000001ull));
}

}  // namespace
