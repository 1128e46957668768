// Forced into every source of the installer (cmake/installer.cmake). The
// routines called from several places are declared here without dllimport,
// so that each call is a relative call to the import library's single jump
// through the import table: a call through the table itself needs a base
// relocation at every call site, 2 bytes of the file each, and the
// relocations take whole 512-byte blocks of it.
#pragma once
#include <windows.h>
#include <objbase.h>

#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wattributes"  // "previous dllimport ignored": the point
extern "C" {
BOOL WINAPI CloseHandle(HANDLE);
HANDLE WINAPI CreateFileA(LPCSTR, DWORD, DWORD, LPSECURITY_ATTRIBUTES, DWORD, DWORD, HANDLE);
HANDLE WINAPI CreateFileW(LPCWSTR, DWORD, DWORD, LPSECURITY_ATTRIBUTES, DWORD, DWORD, HANDLE);
HANDLE WINAPI CreateThread(LPSECURITY_ATTRIBUTES, SIZE_T, LPTHREAD_START_ROUTINE, LPVOID, DWORD,
                           LPDWORD);
BOOL WINAPI DeleteFileA(LPCSTR);
DWORD WINAPI GetFileAttributesW(LPCWSTR);
DWORD WINAPI GetLastError(void);
HMODULE WINAPI GetModuleHandleA(LPCSTR);
FARPROC WINAPI GetProcAddress(HMODULE, LPCSTR);
DWORD WINAPI GetTickCount(void);
HMODULE WINAPI LoadLibraryExA(LPCSTR, HANDLE, DWORD);
HLOCAL WINAPI LocalAlloc(UINT, SIZE_T);
HLOCAL WINAPI LocalFree(HLOCAL);
BOOL WINAPI MoveFileExW(LPCWSTR, LPCWSTR, DWORD);
int WINAPI MultiByteToWideChar(UINT, DWORD, LPCCH, int, LPWSTR, int);
BOOL WINAPI ReadFile(HANDLE, LPVOID, DWORD, LPDWORD, LPOVERLAPPED);
BOOL WINAPI RemoveDirectoryW(LPCWSTR);
BOOL WINAPI SetFileAttributesW(LPCWSTR, DWORD);
DWORD WINAPI SetFilePointer(HANDLE, LONG, PLONG, DWORD);
void WINAPI SetLastError(DWORD);
BOOL WINAPI DeleteObject(HGDIOBJ);
BOOL WINAPI InvalidateRect(HWND, const RECT*, BOOL);
BOOL WINAPI ShowWindow(HWND, int);
int WINAPIV wsprintfA(LPSTR, LPCSTR, ...);
}
#pragma GCC diagnostic pop

// The other way round for routines called from one place, which the
// system headers declare without dllimport: a call through the table is
// shorter than a call to a jump, with the same one relocation.
extern "C" {
__declspec(dllimport) void WINAPI AcquireSRWLockExclusive(PSRWLOCK);
__declspec(dllimport) void WINAPI ReleaseSRWLockExclusive(PSRWLOCK);
}

// What GetCurrentProcess returns, a constant: no import, no call.
#define GetCurrentProcess() reinterpret_cast<HANDLE>(-1)
