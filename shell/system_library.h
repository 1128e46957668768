// Loading of system DLLs without looking in the program's own folder: the
// installer runs elevated from folders anyone may have written to.
#pragma once
#include <windows.h>

// Limits the process's DLL search to the system directory where the
// system offers it (SetDefaultDllDirectories).
void RestrictDllSearchToSystem();
// GetProcAddress cast to the routine's type; `name` may also be an ordinal
// (MAKEINTRESOURCEA).
template <typename Routine>
Routine LookUpRoutine(HMODULE module, const char* name) {
  return reinterpret_cast<Routine>(reinterpret_cast<void*>(GetProcAddress(module, name)));
}

// A kernel32 routine, NULL where the system lacks it; as LookUpRoutine.
FARPROC LookUpKernelRoutine(const char* name);
// Looks up a kernel32 routine by name, NULL where the system lacks it:
// LookUpKernelRoutine, or a test's stand-in for the system.
typedef FARPROC (*LookUpRoutineFn)(const char* name);
template <typename Routine>
Routine LookUpRoutine(LookUpRoutineFn lookUp, const char* name) {
  return reinterpret_cast<Routine>(reinterpret_cast<void*>(lookUp(name)));
}
template <typename Routine>
Routine LookUpKernelRoutine(const char* name) {
  return reinterpret_cast<Routine>(reinterpret_cast<void*>(LookUpKernelRoutine(name)));
}

// Loads `name` from the system directory only; NULL with the last error set
// on failure.
HMODULE LoadSystemLibrary(const char* name);

// The last system error as an HRESULT; a failure that left none is
// ERROR_GEN_FAILURE, never success.
HRESULT LastErrorAsHresult();
