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

// Dragged to a monitor of another scale, the window takes the place and
// size the system suggests for it there.
TEST(MainWindow, TakesTheRectangleSuggestedForANewScale) {
  const HWND hwnd = CreateWindowExA(0, "STATIC", "", WS_POPUP, 320, 288, 384, 96, NULL, NULL,
                                    GetModuleHandleA(NULL), NULL);
  ASSERT_TRUE(hwnd);
  RECT suggested = {1100, 250, 1100 + 576, 250 + 144};
  EXPECT_EQ(0, MainWndProc(hwnd, WM_DPICHANGED, MAKEWPARAM(144, 144),
                           reinterpret_cast<LPARAM>(&suggested)));
  RECT now;
  GetWindowRect(hwnd, &now);
  EXPECT_EQ(suggested.left, now.left);
  EXPECT_EQ(suggested.top, now.top);
  EXPECT_EQ(suggested.right, now.right);
  EXPECT_EQ(suggested.bottom, now.bottom);
  DestroyWindow(hwnd);
}

}  // namespace
