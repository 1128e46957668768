#include "shell/status.h"

#include "shell/accessible.h"
#include "shell/state.h"
#include "shell/text.h"

void ShowStatusMessage(const WCHAR* text) {
  LockStatus();
  const BYTE closed = g_windowClosed;
  if (!closed) {
    g_errorShown = 1;
    CopyText(g_statusText, text, kStatusTextCapacity);
  }
  UnlockStatus();
  if (closed)
    return;
  // Outside the lock: from the worker these calls wait for the window's
  // thread, which takes the lock to paint.
  const HWND window = g_mainWnd;
  ShowWindow(window, SW_SHOWNORMAL);
  InvalidateRect(window, NULL, FALSE);
  // The name and the value now carry the failure.
  AnnounceProgress(EVENT_OBJECT_NAMECHANGE);
  AnnounceProgress(EVENT_SYSTEM_ALERT);
}

void ShowStatusError(const WCHAR* tag, DWORD code) {
  WCHAR text[100];
  wsprintfW(text, L"%s:0x%08lx", tag, code);
  ShowStatusMessage(text);
}
