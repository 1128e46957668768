#include "shell/status.h"

#include "shell/state.h"

void ShowStatusMessage(const WCHAR* text) {
  LockStatus();
  const BYTE closed = g_windowClosed;
  if (!closed) {
    g_errorShown = 1;
    lstrcpynW(g_statusText, text, kStatusTextCapacity);
  }
  UnlockStatus();
  if (closed)
    return;
  // Outside the lock: from the worker these calls wait for the window's
  // thread, which takes the lock to paint.
  ShowWindow(g_mainWnd, SW_SHOWNORMAL);
  InvalidateRect(g_mainWnd, NULL, FALSE);
}

void ShowStatusError(const WCHAR* tag, DWORD code) {
  WCHAR text[100];
  wsprintfW(text, L"%s:0x%08lx", tag, code);
  ShowStatusMessage(text);
}
