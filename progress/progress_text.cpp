#include "progress/progress_text.h"

#include "shell/state.h"

namespace {

struct RomanRow {
  int value;
  const WCHAR* symbols;
};

const RomanRow kRomanRows[] = {
    {1000, L"M"}, {900, L"CM"}, {500, L"D"}, {400, L"CD"}, {100, L"C"},
    {90, L"XC"},  {50, L"L"},   {40, L"XL"}, {10, L"X"},   {9, L"IX"},
    {5, L"V"},    {4, L"IV"},   {1, L"I"},
};

// Appends `symbols` at out[*length], dropping what does not fit.
void AppendClipped(WCHAR* out, int capacity, int* length, const WCHAR* symbols) {
  for (; *symbols && *length < capacity - 1; ++symbols)
    out[(*length)++] = *symbols;
  out[*length] = 0;
}

}  // namespace

void FormatRoman(int value, WCHAR* out, int capacity) {
  int length = 0;
  out[0] = 0;
  if (value >= 4000) {
    for (int blocks = value / 4000; blocks > 0 && length < capacity - 1; --blocks)
      AppendClipped(out, capacity, &length, L"MMMM");
    value %= 4000;
  }
  for (const RomanRow& row : kRomanRows) {
    while (value >= row.value) {
      AppendClipped(out, capacity, &length, row.symbols);
      value -= row.value;
    }
  }
}

void OnDownloadProgress(DWORD progress, DWORD progressMax) {
  LockStatus();
  const BYTE closed = g_windowClosed;
  if (!closed) {
    g_progressMax = progressMax;
    g_progress = progress;
    if (progressMax == 0) {
      const int length = lstrlenW(g_statusText);
      if (length < kStatusTextCapacity - 1) {
        g_statusText[length] = L'.';
        g_statusText[length + 1] = 0;
      }
    } else {
      const ULONGLONG percent = static_cast<ULONGLONG>(progress) * 100 / progressMax;
      if (percent == 0) {
        lstrcpyW(g_statusText, L"-");
      } else if (percent > 0x7FFFFFFF) {
        // Far beyond the platform's own maximum: nothing sensible to show.
        g_statusText[0] = 0;
      } else {
        FormatRoman(static_cast<int>(percent), g_statusText, kStatusTextCapacity);
      }
    }
  }
  UnlockStatus();
  if (!closed)
    InvalidateRect(g_mainWnd, NULL, FALSE);
}
