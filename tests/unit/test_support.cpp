#include "test_support.h"

#include "download/package_source.h"
#include "shell/accessible.h"
#include "shell/state.h"

// The unit-test build's package addresses: none, so nothing started by a
// test window ever reaches the network.
const char kPackage32[] = "\0";
const char kPackage64[] = "\0";
const char kPackageArm64[] = "\0";
const char kSignerPins[] = "";
const bool kRequireSignature = true;
const unsigned long long kSignedNotBefore = 0;
const unsigned long kStallTimeout = 60000;
const unsigned long kCheckChunkDelay = 0;

void ResetInstallerState() {
  LockStatus();
  lstrcpyW(g_statusText, L".");
  g_errorShown = 0;
  g_progress = 0;
  g_progressMax = 0;
  g_percent = kNoPercent;
  g_percentAnnounced = kNoPercent;
  g_windowClosed = 0;
  UnlockStatus();
  g_setupDone = 0;
  g_setupExitCode = 0;
  g_mainWnd = NULL;
}

void ReadStatus(WCHAR* text, int capacity, BYTE* errorShown) {
  LockStatus();
  lstrcpynW(text, g_statusText, capacity);
  if (errorShown)
    *errorShown = g_errorShown;
  UnlockStatus();
}
