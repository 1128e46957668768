// The worker thread that picks, fetches and hands over the package.
#pragma once
#include <windows.h>

typedef BOOL(WINAPI* IsWow64ProcessFn)(HANDLE, PBOOL);
extern IsWow64ProcessFn g_isWow64Process;

// `parameter` is g_cabinetPath, where the package is put: passed rather
// than named at every use, each of which the loader would relocate.
DWORD WINAPI DownloadThreadProc(LPVOID parameter);
// True when this 32-bit process runs on 64-bit Windows.
bool IsWow64();
// The address to fetch: the 64-bit one on 64-bit Windows when present
// (IsWow64 is asked only then), else the 32-bit one. NULL when the chosen
// one is shorter than 5 characters.
const char* ChoosePackageUrl(const char* url32, const char* url64);
