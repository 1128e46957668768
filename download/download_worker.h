// The worker thread that picks, fetches and hands over the package.
#pragma once
#include <windows.h>

#include "shell/system_library.h"

// `parameter` is g_cabinetPath, where the package is put: passed rather
// than named at every use, each of which the loader would relocate.
DWORD WINAPI DownloadThreadProc(LPVOID parameter);
// The address to fetch on this machine, as its system tells through the
// routines `lookUp` finds: the ARM64 one on ARM64 Windows, else there the
// 64-bit one where x64 programs run; the 64-bit one on x64 Windows; the
// 32-bit one elsewhere and whenever the build lacks the one chosen. NULL
// when that is shorter than 5 characters.
const char* ChoosePackageUrl(const char* url32, const char* url64, const char* urlArm64,
                             LookUpRoutineFn lookUp);

// Waits the given milliseconds: Sleep, or a test's stand-in for the
// passing of time.
typedef void(WINAPI* WaitFn)(DWORD milliseconds);
// How long the stall watch waits between two looks at the download.
const DWORD kStallCheckInterval = 1000;
// Beside the download, `wait` (a WaitFn) being Sleep: gives the download
// up once no byte has arrived for kStallTimeout, as neither a server nor
// the path to it may hold the installer for ever; a slow link that still
// delivers is never cut. Silence is the sum of the waits that saw nothing
// new, not the difference of two clock readings: a wait ends at most once
// across the machine's sleep, so sleep is no silence, and no reading can
// be torn by a byte arriving between two. Ends once the download has
// ended or all of it has arrived.
DWORD WINAPI WatchForStall(LPVOID wait);
