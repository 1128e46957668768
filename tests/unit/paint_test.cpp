// PaintProgress drawn into a memory bitmap for a real window of known
// client size; the assertions read the pixels.
#include <gtest/gtest.h>

#include "progress/paint.h"
#include "progress/progress_text.h"
#include "shell/state.h"
#include "shell/status.h"
#include "test_support.h"

namespace {

const COLORREF kRed = 0x0000FF, kBlue = 0xFF0000, kBlack = 0, kYellow = 0x00FFFF;

class Canvas {
 public:
  Canvas(int width, int height) : width_(width), height_(height) {
    WNDCLASSA wc = {};
    wc.lpfnWndProc = DefWindowProcA;
    wc.hInstance = GetModuleHandleA(NULL);
    wc.lpszClassName = "ZvPaintTestWindow";
    RegisterClassA(&wc);  // a second registration fails harmlessly
    hwnd_ = CreateWindowExA(0, wc.lpszClassName, "", WS_POPUP, 0, 0, width, height, NULL, NULL,
                            wc.hInstance, NULL);
    BITMAPINFO bi = {};
    bi.bmiHeader.biSize = sizeof(bi.bmiHeader);
    bi.bmiHeader.biWidth = width;
    bi.bmiHeader.biHeight = -height;  // top-down
    bi.bmiHeader.biPlanes = 1;
    bi.bmiHeader.biBitCount = 32;
    dc_ = CreateCompatibleDC(NULL);
    bitmap_ = CreateDIBSection(dc_, &bi, DIB_RGB_COLORS, reinterpret_cast<void**>(&bits_), NULL, 0);
    old_ = SelectObject(dc_, bitmap_);
    // Paint a colour that no picture uses, to see what was left untouched.
    for (int i = 0; i < width * height; ++i)
      bits_[i] = 0x00808080;
  }
  ~Canvas() {
    SelectObject(dc_, old_);
    DeleteObject(bitmap_);
    DeleteDC(dc_);
    DestroyWindow(hwnd_);
  }
  void Paint() {
    PaintProgress(hwnd_, dc_);
    GdiFlush();
  }
  RECT Client() const {
    RECT rc;
    GetClientRect(hwnd_, &rc);
    return rc;
  }
  COLORREF At(int x, int y) const {
    const DWORD v = bits_[y * width_ + x];  // 0x00RRGGBB in a DIB
    return RGB((v >> 16) & 0xFF, (v >> 8) & 0xFF, v & 0xFF);
  }
  int Count(COLORREF colour, int left, int top, int right, int bottom) const {
    int n = 0;
    for (int y = top; y < bottom; ++y)
      for (int x = left; x < right; ++x)
        n += At(x, y) == colour;
    return n;
  }
  int width() const { return width_; }
  int height() const { return height_; }

 private:
  int width_, height_;
  HWND hwnd_;
  HDC dc_;
  HBITMAP bitmap_;
  HGDIOBJ old_;
  DWORD* bits_ = NULL;
};

class Painting : public ::testing::Test {
 protected:
  void SetUp() override { ResetInstallerState(); }
  void SetProgress(DWORD progress, DWORD progressMax) {
    LockStatus();
    g_progress = progress;
    g_progressMax = progressMax;
    UnlockStatus();
  }
};

TEST_F(Painting, TheTestWindowHasTheRequestedClientArea) {
  Canvas canvas(534, 101);
  const RECT rc = canvas.Client();
  EXPECT_EQ(534, rc.right);
  EXPECT_EQ(101, rc.bottom);
}

TEST_F(Painting, BeforeProgressBlackFieldWithYellowDotAtTheBaseline) {
  Canvas canvas(534, 101);
  canvas.Paint();
  // Everything is black or yellow text: the background never shows.
  const int all = canvas.width() * canvas.height();
  const int black = canvas.Count(kBlack, 0, 0, 534, 101);
  EXPECT_GT(black, all * 95 / 100);
  EXPECT_EQ(0, canvas.Count(0x808080, 0, 0, 534, 101));
  // The dot sits on the baseline (y 68), centred on x 267.
  EXPECT_GT(canvas.Count(kYellow, 257, 58, 278, 69), 0);
  EXPECT_EQ(0, canvas.Count(kYellow, 0, 0, 534, 50));
  EXPECT_EQ(0, canvas.Count(kYellow, 0, 75, 534, 101));
}

TEST_F(Painting, FortyPercentSplitsTheBarAtPixel213) {
  Canvas canvas(534, 101);
  SetProgress(40, 100);
  canvas.Paint();
  for (int y : {0, 10, 100}) {
    EXPECT_EQ(kBlue, canvas.At(0, y));
    EXPECT_EQ(kBlue, canvas.At(212, y));
    EXPECT_EQ(kBlack, canvas.At(213, y));
    EXPECT_EQ(kBlack, canvas.At(533, y));
  }
}

TEST_F(Painting, FullAndBeyondFullFillTheWholeWidthBlue) {
  Canvas canvas(300, 75);
  for (DWORD progress : {100u, 101u, 5000u, 0xFFFFFFFFu}) {
    SetProgress(progress, 100);
    canvas.Paint();
    EXPECT_EQ(kBlue, canvas.At(0, 0)) << progress;
    EXPECT_EQ(kBlue, canvas.At(299, 0)) << progress;
    EXPECT_EQ(kBlue, canvas.At(299, 74)) << progress;
    EXPECT_EQ(0, canvas.Count(kBlack, 0, 0, 300, 20)) << progress;
  }
}

TEST_F(Painting, ErrorDisplayIsRedWithBlackTextWhateverTheProgress) {
  Canvas canvas(534, 101);
  SetProgress(40, 100);
  ShowStatusError(L"d", 0x800C0005);
  canvas.Paint();
  EXPECT_EQ(kRed, canvas.At(0, 0));
  EXPECT_EQ(kRed, canvas.At(100, 5));
  EXPECT_EQ(kRed, canvas.At(533, 100));
  EXPECT_EQ(0, canvas.Count(kBlue, 0, 0, 534, 101));
  EXPECT_EQ(0, canvas.Count(kYellow, 0, 0, 534, 101));
  // The text is black, around the centre, above the baseline.
  EXPECT_GT(canvas.Count(kBlack, 150, 30, 384, 69), 100);
  EXPECT_EQ(0, canvas.Count(kBlack, 0, 0, 534, 20));
  // Later progress does not leave the error display.
  OnDownloadProgress(100, 100);
  canvas.Paint();
  EXPECT_EQ(kRed, canvas.At(0, 0));
  EXPECT_EQ(0, canvas.Count(kBlue, 0, 0, 534, 101));
}

TEST_F(Painting, TextIsCentredAndScaledToTheClientHeight) {
  Canvas small(400, 60);
  OnDownloadProgress(100, 100);  // "C", full bar
  small.Paint();
  Canvas large(400, 180);
  large.Paint();
  // Yellow text pixels: their horizontal middle is the client centre, and
  // the text is about three times taller on the taller window.
  auto extent = [](const Canvas& c, int* left, int* right, int* top, int* bottom) {
    *left = c.width(), *right = -1, *top = c.height(), *bottom = -1;
    for (int y = 0; y < c.height(); ++y)
      for (int x = 0; x < c.width(); ++x)
        if (c.At(x, y) == kYellow) {
          if (x < *left) *left = x;
          if (x > *right) *right = x;
          if (y < *top) *top = y;
          if (y > *bottom) *bottom = y;
        }
  };
  int l1, r1, t1, b1, l2, r2, t2, b2;
  extent(small, &l1, &r1, &t1, &b1);
  extent(large, &l2, &r2, &t2, &b2);
  ASSERT_GE(r1, 0);
  ASSERT_GE(r2, 0);
  EXPECT_NEAR(200, (l1 + r1) / 2, 3);
  EXPECT_NEAR(200, (l2 + r2) / 2, 3);
  EXPECT_LE(b1, 60 - 20);   // baseline one third above the bottom
  EXPECT_LE(b2, 180 - 60);
  const int h1 = b1 - t1 + 1, h2 = b2 - t2 + 1;
  EXPECT_NEAR(3.0, static_cast<double>(h2) / h1, 0.6);
}

TEST_F(Painting, TinyClientAreasAreCoveredWithoutFailing) {
  for (int height : {1, 2, 3}) {
    Canvas canvas(40, height);
    SetProgress(1, 2);
    canvas.Paint();
    EXPECT_EQ(kBlue, canvas.At(0, height - 1)) << height;
    EXPECT_EQ(kBlack, canvas.At(39, 0)) << height;
    EXPECT_EQ(0, canvas.Count(0x808080, 0, 0, 40, height)) << height;
  }
}

TEST(FontHeight, IsThePointSizeAt96Dpi) {
  EXPECT_EQ(-44, FontHeightForPoints(33));
  EXPECT_EQ(-30, FontHeightForPoints(23));  // truncates toward zero
  EXPECT_EQ(-1, FontHeightForPoints(1));
  EXPECT_EQ(0, FontHeightForPoints(0));
}

}  // namespace
