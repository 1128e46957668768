#include "progress/paint.h"

#include "shell/state.h"
#include "shell/taskbar_button.h"
#include "shell/text.h"

void FillRectColor(HDC hdc, const RECT* rect, COLORREF colour) {
  HBRUSH brush = CreateSolidBrush(colour);
  if (!brush)
    return;
  FillRect(hdc, rect, brush);
  DeleteObject(brush);
}

int FontHeightForPoints(int size) {
  return size * USER_DEFAULT_SCREEN_DPI / -72;
}

void DrawStatusText(HDC hdc, COLORREF colour, int x, int y, const char* face,
                    const WCHAR* text, int size) {
  const int height = FontHeightForPoints(size);
  HFONT font = CreateFontA(height, 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE,
                           ANSI_CHARSET, OUT_TT_PRECIS, CLIP_DEFAULT_PRECIS,
                           PROOF_QUALITY, VARIABLE_PITCH, face);
  if (!font)
    return;
  HGDIOBJ previous = SelectObject(hdc, font);
  SetTextAlign(hdc, TA_CENTER | TA_BASELINE);
  SetBkMode(hdc, TRANSPARENT);
  SetTextColor(hdc, colour);
  TextOutW(hdc, x, y, text, TextLength(text));
  SelectObject(hdc, previous);
  DeleteObject(font);
}

void PaintProgress(HWND hwnd, HDC hdc) {
  // Copied out under the lock so that a report arriving meanwhile never
  // shows half-written.
  static WCHAR text[kStatusTextCapacity];  // UI thread only; too big for the stack
  LockStatus();
  const BYTE errorShown = g_errorShown;
  const DWORD progress = g_progress;
  const DWORD progressMax = g_progressMax;
  CopyText(text, g_statusText, kStatusTextCapacity);
  UnlockStatus();
  ShowTaskbarProgress(hwnd, errorShown, progress, progressMax);

  RECT rc;
  GetClientRect(hwnd, &rc);
  const int third = (rc.bottom - rc.top) / 3;
  COLORREF textColour = kColorText;
  if (errorShown) {
    FillRectColor(hdc, &rc, kColorErrorBackground);
    textColour = kColorErrorText;
  } else if (progressMax != 0) {
    // Progress beyond the maximum would put the split past the right edge;
    // clamping there draws the same picture without overflowing a LONG.
    const ULONGLONG width = static_cast<ULONGLONG>(rc.right - rc.left);
    ULONGLONG filledWidth = width * progress / progressMax;
    if (filledWidth > width)
      filledWidth = width;
    const LONG split = rc.left + static_cast<LONG>(filledWidth);
    const RECT filled = {rc.left, rc.top, split, rc.bottom};
    const RECT empty = {split, rc.top, rc.right, rc.bottom};
    FillRectColor(hdc, &filled, kColorBarFilled);
    FillRectColor(hdc, &empty, kColorBarEmpty);
  } else {
    FillRectColor(hdc, &rc, kColorBarEmpty);
  }
  DrawStatusText(hdc, textColour, (rc.left + rc.right) / 2, rc.bottom - third,
                 "Times New Roman", text, third);
}
