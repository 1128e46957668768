// Process-wide installer state shared by the window, the painter, the
// download worker and the install step.
#pragma once
#include <windows.h>

// Posted by the download worker; lParam is the narrow path of the cabinet.
const UINT WM_DOWNLOAD_COMPLETE = WM_APP + 0x42;

const int kStatusTextCapacity = 4096;  // UTF-16 code units, NUL included
const int kPathCapacity = 260;         // narrow paths, NUL included

// Guarded by g_statusLock: written by both threads, read by the painter.
extern WCHAR g_statusText[kStatusTextCapacity];
extern BYTE g_errorShown;
extern DWORD g_progress;
extern DWORD g_progressMax;
// Set when the window is destroyed: from then on nothing may change the
// status or touch the window any more.
extern BYTE g_windowClosed;
extern SRWLOCK g_statusLock;

// User-interface thread only.
extern BYTE g_setupDone;
extern DWORD g_setupExitCode;
extern HINSTANCE g_instance;
extern HANDLE g_downloadThread;

// Written before the worker starts (g_tempDir) or before the message that
// hands it over is posted (g_cabinetPath, g_cabinetFile); read-only
// afterwards. g_cabinetFile is the checked package, held open with read
// sharing only until the install step has done with it, so that nobody
// can change, replace or rename it in between; closing it deletes it.
extern char g_tempDir[kPathCapacity + 4];
extern char g_cabinetPath[kPathCapacity];
extern HANDLE g_cabinetFile;
extern HWND g_mainWnd;

// Out of line: one place names the lock, not every caller.
void LockStatus();
void UnlockStatus();
