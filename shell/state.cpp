#include "shell/state.h"

// Left zero-filled: an initialiser would store all 8 KiB in the file.
// RunInstaller writes the first "." itself.
WCHAR g_statusText[kStatusTextCapacity];
BYTE g_errorShown;
DWORD g_progress;
DWORD g_progressMax;
BYTE g_windowClosed;
SRWLOCK g_statusLock = SRWLOCK_INIT;

BYTE g_setupDone;
DWORD g_setupExitCode;
HINSTANCE g_instance;
HANDLE g_downloadThread;

char g_tempDir[kPathCapacity + 4];
char g_workDir[kPathCapacity];
HANDLE g_workDirHandle;
char g_cabinetPath[kPathCapacity];
HANDLE g_cabinetFile;
volatile BYTE g_checkingPackage;
HWND g_mainWnd;

void LockStatus() {
  AcquireSRWLockExclusive(&g_statusLock);
}

void UnlockStatus() {
  ReleaseSRWLockExclusive(&g_statusLock);
}

HANDLE TakeCabinetFile() {
  return InterlockedExchangePointer(&g_cabinetFile, NULL);
}
