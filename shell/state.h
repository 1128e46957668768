// Process-wide installer state shared by the window, the painter, the
// download worker and the install step, and the few variables of single
// modules, which are reached the same way.
#pragma once
#include <windows.h>

struct ITaskbarList3;

// Posted by the download worker once it holds the checked package in
// g_cabinetFile. Its parameters are not used: anyone may post it.
const UINT WM_DOWNLOAD_COMPLETE = WM_APP + 0x42;

const int kStatusTextCapacity = 4096;  // UTF-16 code units, NUL included
const int kPathCapacity = 260;         // narrow paths, NUL included
// The longest address the platform's Internet functions take, NUL included.
const int kUrlCapacity = 2084;

// The state is one structure, SharedState, of which each routine asks the
// address once: its members are then reached as displacements from a
// register. As separate variables each use would be an absolute address,
// longer and with a base relocation of its own. The g_ names below stand
// for its members.
struct SharedState {
  // The scalars first, within a byte's displacement of the start.
  // Guarded by g_statusLock: written by both threads, read by the painter
  // (with g_statusText).
  SRWLOCK statusLock;
  DWORD progress;
  DWORD progressMax;
  // The whole percentage screen readers are given, kNoPercent while the
  // size is unknown, and the last one they were told of; both written by
  // the download worker alone.
  DWORD percent;
  DWORD percentAnnounced;
  BYTE errorShown;
  // Set when the window is destroyed: from then on nothing may change the
  // status or touch the window any more.
  BYTE windowClosed;
  // User-interface thread only (with g_setupExitCode, g_downloadThread).
  BYTE setupDone;
  // Set by the worker once the download is complete, when it begins to
  // check the package it then holds (whether or not its size was
  // announced): an ending waits a moment for it to let go.
  volatile BYTE checkingPackage;
  // Set when a stalled download is given up: the download's callback
  // aborts at its next report.
  volatile BYTE cancelDownload;
  // Set when the extraction could not write a file whole (a full disk).
  BYTE writeFailed;
  // How the download ended and what it received (download_to_file.h).
  volatile LONG downloadEnd;
  volatile DWORD received;
  // The address asked for, once a download has begun.
  const char* packageUrl;
  // The shell's taskbar object, NULL where the system has none, and the
  // message that tells of a new button (taskbar_button.h).
  ITaskbarList3* taskbarList;
  UINT taskbarButtonCreated;
  // The cabinet being unpacked, the only file the decoder ever reads.
  HANDLE extractCabinet;
  DWORD setupExitCode;
  HANDLE downloadThread;
  HWND mainWnd;
  // Written before the worker starts (g_tempDir, g_workDir,
  // g_workDirHandle) or before the message that hands it over is posted
  // (g_cabinetPath, g_cabinetFile). g_tempDir is the system temporary
  // directory the work directory g_workDir was made in; the first ends in a
  // backslash. The work directory holds all the installer writes and is
  // held open by g_workDirHandle until the end. g_cabinetFile is the
  // checked package, held open with read sharing only until the install
  // step has done with it, so that nobody can change, replace or rename it
  // in between; closing it deletes it.
  HANDLE workDirHandle;
  HANDLE cabinetFile;
  char tempDir[kPathCapacity + 4];
  char workDir[kPathCapacity];
  char cabinetPath[kPathCapacity];
  WCHAR statusText[kStatusTextCapacity];
  // Where the download's last redirection led and the platform's cache
  // file, each empty until reported (download_to_file.cpp).
  WCHAR finalUrl[kUrlCapacity];
  WCHAR cacheFile[kPathCapacity];
  // Where the cabinet is unpacked, in UTF-16: the names beneath it come
  // from the package.
  WCHAR extractDir[kPathCapacity];
};

// Out of line and without side effects: the compiler can neither fold the
// members' addresses into absolute ones nor need to ask twice in a routine.
__attribute__((const, noinline)) SharedState* GetSharedState();

#define g_statusText (GetSharedState()->statusText)
#define g_errorShown (GetSharedState()->errorShown)
#define g_progress (GetSharedState()->progress)
#define g_progressMax (GetSharedState()->progressMax)
#define g_percent (GetSharedState()->percent)
#define g_percentAnnounced (GetSharedState()->percentAnnounced)
#define g_windowClosed (GetSharedState()->windowClosed)
#define g_statusLock (GetSharedState()->statusLock)
#define g_setupDone (GetSharedState()->setupDone)
#define g_setupExitCode (GetSharedState()->setupExitCode)
#define g_downloadThread (GetSharedState()->downloadThread)
#define g_tempDir (GetSharedState()->tempDir)
#define g_workDir (GetSharedState()->workDir)
#define g_workDirHandle (GetSharedState()->workDirHandle)
#define g_cabinetPath (GetSharedState()->cabinetPath)
#define g_cabinetFile (GetSharedState()->cabinetFile)
#define g_checkingPackage (GetSharedState()->checkingPackage)
#define g_mainWnd (GetSharedState()->mainWnd)
#define g_cancelDownload (GetSharedState()->cancelDownload)
#define g_writeFailed (GetSharedState()->writeFailed)
#define g_downloadEnd (GetSharedState()->downloadEnd)
#define g_received (GetSharedState()->received)
#define g_packageUrl (GetSharedState()->packageUrl)
#define g_taskbarList (GetSharedState()->taskbarList)
#define g_taskbarButtonCreated (GetSharedState()->taskbarButtonCreated)
#define g_extractCabinet (GetSharedState()->extractCabinet)
#define g_finalUrl (GetSharedState()->finalUrl)
#define g_cacheFile (GetSharedState()->cacheFile)
#define g_extractDir (GetSharedState()->extractDir)

// Apart: nothing reads it yet, and the link drops a variable nobody reads.
extern HINSTANCE g_instance;

// Out of line: one place names the lock, not every caller.
void LockStatus();
void UnlockStatus();
// The held package, taken so that nobody else can: at most one caller,
// on either thread, gets the handle (and must close it); NULL for the rest.
HANDLE TakeCabinetFile();
