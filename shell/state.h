// Process-wide installer state shared by the window, the painter, the
// download worker and the install step.
#pragma once
#include <windows.h>

// Posted by the download worker once it holds the checked package in
// g_cabinetFile. Its parameters are not used: anyone may post it.
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

// Written before the worker starts (g_tempDir, g_workDir, g_workDirHandle)
// or before the message that hands it over is posted (g_cabinetPath,
// g_cabinetFile). g_tempDir is the system temporary directory the work
// directory g_workDir was made in; the first ends in a backslash. The work
// directory holds all the installer writes and is held open by
// g_workDirHandle until the end. g_cabinetFile is the checked package,
// held open with read sharing only until the install step has done with
// it, so that nobody can change, replace or rename it in between; closing
// it deletes it.
extern char g_tempDir[kPathCapacity + 4];
extern char g_workDir[kPathCapacity];
extern HANDLE g_workDirHandle;
extern char g_cabinetPath[kPathCapacity];
extern HANDLE g_cabinetFile;
// Set by the worker once the download is complete, when it begins to check
// the package it then holds (whether or not its size was announced): an
// ending waits a moment for it to let go.
extern volatile BYTE g_checkingPackage;
extern HWND g_mainWnd;

// Out of line: one place names the lock, not every caller.
void LockStatus();
void UnlockStatus();
// The held package, taken so that nobody else can: at most one caller,
// on either thread, gets the handle (and must close it); NULL for the rest.
HANDLE TakeCabinetFile();
