// Painting of the progress window's client area.
#pragma once
#include <windows.h>

const COLORREF kColorErrorBackground = 0x0000FF;  // red
const COLORREF kColorBarFilled = 0xFF0000;        // blue
const COLORREF kColorBarEmpty = 0x000000;         // black
const COLORREF kColorErrorText = 0x000000;        // black
const COLORREF kColorText = 0x00FFFF;             // yellow

// Paints the whole client area of `hwnd` on `hdc`.
void PaintProgress(HWND hwnd, HDC hdc);
// Fills `rect` with a solid colour; does nothing if no brush can be made.
void FillRectColor(HDC hdc, const RECT* rect, COLORREF colour);
// Draws `text` centred on `x` with its baseline at `y`, `size` in points
// at 96 DPI.
void DrawStatusText(HDC hdc, COLORREF colour, int x, int y, const char* face,
                    const WCHAR* text, int size);
// The font height for `size` points at 96 DPI, whatever the device's
// resolution: the size comes from the client area, in the display's own
// pixels, so the text keeps its share of the window at any display scale.
// Negative, so that it asks for a character height rather than a cell
// height.
int FontHeightForPoints(int size);
