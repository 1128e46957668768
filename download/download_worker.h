// The worker thread that picks, fetches and hands over the package.
#pragma once
#include <windows.h>

// `parameter` is g_cabinetPath, where the package is put: passed rather
// than named at every use, each of which the loader would relocate.
DWORD WINAPI DownloadThreadProc(LPVOID parameter);
// Looks up a kernel32 routine by name, NULL where the system lacks it:
// LookUpKernelRoutine, or a test's stand-in for the system.
typedef FARPROC (*LookUpRoutineFn)(const char* name);
// The address to fetch on this machine, as its system tells through the
// routines `lookUp` finds: the ARM64 one on ARM64 Windows, else there the
// 64-bit one where x64 programs run; the 64-bit one on x64 Windows; the
// 32-bit one elsewhere and whenever the build lacks the one chosen. NULL
// when that is shorter than 5 characters.
const char* ChoosePackageUrl(const char* url32, const char* url64, const char* urlArm64,
                             LookUpRoutineFn lookUp);
