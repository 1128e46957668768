#include <gtest/gtest.h>

#include "shell/main_window.h"

namespace {

void ExpectPlacement(RECT screen, int x, int y, int width, int height) {
  const RECT w = PlaceMainWindow(screen);
  EXPECT_EQ(x, w.left);
  EXPECT_EQ(y, w.top);
  EXPECT_EQ(width, w.right - w.left);
  EXPECT_EQ(height, w.bottom - w.top);
}

TEST(MainWindowPlacement, FollowsTheScreen) {
  ExpectPlacement({0, 0, 1920, 1080}, 690, 405, 540, 135);
  ExpectPlacement({0, 0, 1024, 768}, 320, 288, 384, 96);
  // Portrait screens use their width as the shorter side.
  ExpectPlacement({0, 0, 1080, 1920}, 270, 825, 540, 135);
}

TEST(MainWindowPlacement, NeverNarrowerThan300) {
  ExpectPlacement({0, 0, 500, 400}, 100, 125, 300, 75);
  ExpectPlacement({0, 0, 1199, 599}, 449, 224, 300, 75);
  ExpectPlacement({0, 0, 200, 100}, -50, -25, 300, 75);
}

TEST(MainWindowPlacement, ScreenNotAtTheOrigin) {
  ExpectPlacement({-1024, 0, 0, 768}, -704, 288, 384, 96);
}

}  // namespace
