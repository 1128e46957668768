// Progress reports turned into the status text.
#pragma once
#include <windows.h>

// The ProgressSink handed to the download: records the counts, rewrites
// the status text and asks for a repaint. Worker thread.
void OnDownloadProgress(DWORD progress, DWORD progressMax);

// Replaces `out` (capacity `capacity` code units, NUL included) with the
// Roman numeral for `value`; values below 1 give the empty text. Whole
// multiples of 4000 are written as "MMMM" each. What would not fit is
// dropped.
void FormatRoman(int value, WCHAR* out, int capacity);
