// The installer's own memset/memcpy/memmove/memcmp, called through
// pointers so the compiler cannot substitute its built-ins.
#include <gtest/gtest.h>

#include <cstddef>

extern "C" {
void* memset(void*, int, size_t);
void* memcpy(void*, const void*, size_t);
void* memmove(void*, const void*, size_t);
int memcmp(const void*, const void*, size_t);
}

namespace {

void* (*volatile Fill)(void*, int, size_t) = memset;
void* (*volatile Copy)(void*, const void*, size_t) = memcpy;
void* (*volatile Move)(void*, const void*, size_t) = memmove;
int (*volatile Compare)(const void*, const void*, size_t) = memcmp;

TEST(NoCrtHelpers, FillAndCopyTouchExactlyTheirRange) {
  unsigned char buffer[16];
  for (int i = 0; i < 16; ++i)
    buffer[i] = static_cast<unsigned char>(i);
  EXPECT_EQ(buffer + 3, Fill(buffer + 3, 0x1AB, 5));  // only the low byte counts
  const unsigned char filled[16] = {0, 1, 2, 0xAB, 0xAB, 0xAB, 0xAB, 0xAB, 8, 9, 10, 11, 12, 13, 14, 15};
  EXPECT_EQ(0, Compare(buffer, filled, 16));

  unsigned char target[8] = {};
  EXPECT_EQ(target + 1, Copy(target + 1, "abcdef", 6));
  EXPECT_EQ(0, Compare(target, "\0abcdef\0", 8));
  EXPECT_EQ(target, Fill(target, 7, 0));
  EXPECT_EQ(0, target[0]);
}

TEST(NoCrtHelpers, MoveHandlesOverlapInBothDirections) {
  char up[] = "0123456789";
  Move(up + 2, up, 6);
  EXPECT_STREQ("0101234589", up);
  char down[] = "0123456789";
  Move(down, down + 3, 7);
  EXPECT_STREQ("3456789789", down);
}

TEST(NoCrtHelpers, CompareOrdersBytesUnsigned) {
  EXPECT_EQ(0, Compare("abc", "abc", 3));
  EXPECT_LT(Compare("abc", "abd", 3), 0);
  EXPECT_GT(Compare("\xff", "\x01", 1), 0);
  EXPECT_EQ(0, Compare("abc", "abd", 2));
  EXPECT_EQ(0, Compare("x", "y", 0));
}

}  // namespace
