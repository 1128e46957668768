#include "progress/progress_text.h"

#include "shell/accessible.h"
#include "shell/state.h"
#include "shell/text.h"

namespace {

// The letters inline rather than as pointers to strings: no table of
// addresses for the loader to relocate.
struct RomanRow {
  WORD value;
  char symbols[2];  // one or two letters, no terminator
};

const RomanRow kRomanRows[] = {
    {1000, {'M'}}, {900, {'C', 'M'}}, {500, {'D'}}, {400, {'C', 'D'}}, {100, {'C'}},
    {90, {'X', 'C'}}, {50, {'L'}},    {40, {'X', 'L'}}, {10, {'X'}},    {9, {'I', 'X'}},
    {5, {'V'}},       {4, {'I', 'V'}}, {1, {'I'}},
};

}  // namespace

void FormatRoman(int value, WCHAR* out, int capacity) {
  int length = 0;
  // Beyond 3999 the thousands row alone gives "MMMM" for every 4000. Once
  // the text is full nothing more would fit: a huge value ends there.
  for (const RomanRow& row : kRomanRows) {
    for (; value >= row.value && length < capacity - 1; value -= row.value) {
      for (int i = 0; i < 2 && row.symbols[i] && length < capacity - 1; ++i)
        out[length++] = row.symbols[i];
    }
  }
  out[length] = 0;
}

void OnDownloadProgress(DWORD progress, DWORD progressMax) {
  LockStatus();
  const BYTE closed = g_windowClosed;
  if (!closed) {
    g_progressMax = progressMax;
    g_progress = progress;
    if (progressMax == 0) {
      const int length = TextLength(g_statusText);
      if (length < kStatusTextCapacity - 1) {
        g_statusText[length] = L'.';
        g_statusText[length + 1] = 0;
      }
    } else {
      const ULONGLONG percent = static_cast<ULONGLONG>(progress) * 100 / progressMax;
      // What screen readers are given; a report without a size keeps the
      // last one, as the numerals do.
      g_percent = static_cast<DWORD>(percent);
      if (percent == 0) {
        g_statusText[0] = L'-';
        g_statusText[1] = 0;
      } else {
        // Far beyond the platform's own maximum nothing sensible can be
        // shown: 0 gives the empty text.
        FormatRoman(percent > 0x7FFFFFFF ? 0 : static_cast<int>(percent), g_statusText,
                    kStatusTextCapacity);
      }
    }
  }
  UnlockStatus();
  if (!closed)
    InvalidateRect(g_mainWnd, NULL, FALSE);
  // Each whole percentage announced once, however many reports it takes.
  // Only this thread writes either value.
  const DWORD percent = g_percent;
  if (!closed && percent != g_percentAnnounced) {
    g_percentAnnounced = percent;
    AnnounceProgress(EVENT_OBJECT_VALUECHANGE);
  }
}
