#include "shell/system_library.h"

#include "shell/state.h"
#include "shell/text.h"

#ifndef LOAD_LIBRARY_SEARCH_SYSTEM32
#define LOAD_LIBRARY_SEARCH_SYSTEM32 0x00000800
#endif

HRESULT LastErrorAsHresult() {
  const DWORD error = GetLastError();
  return HRESULT_FROM_WIN32(error ? error : ERROR_GEN_FAILURE);
}

FARPROC LookUpKernelRoutine(const char* name) {
  return GetProcAddress(GetModuleHandleA("kernel32"), name);
}

void RestrictDllSearchToSystem() {
  typedef BOOL(WINAPI * SetDefaultDllDirectoriesFn)(DWORD);
  // Looked up: systems without the security update lack the routine.
  SetDefaultDllDirectoriesFn setDirectories =
      LookUpKernelRoutine<SetDefaultDllDirectoriesFn>("SetDefaultDllDirectories");
  if (setDirectories)
    setDirectories(LOAD_LIBRARY_SEARCH_SYSTEM32);
}

HMODULE LoadSystemLibrary(const char* name) {
  HMODULE module = LoadLibraryExA(name, NULL, LOAD_LIBRARY_SEARCH_SYSTEM32);
  if (module || GetLastError() != ERROR_INVALID_PARAMETER)
    return module;
  // The flag is unknown to systems without the update: name the file by
  // its full path in the system directory instead.
  char path[kPathCapacity];
  const UINT length = GetSystemDirectoryA(path, kPathCapacity);
  if (length == 0 || length + 1 + TextLength(name) >= static_cast<UINT>(kPathCapacity)) {
    SetLastError(ERROR_BUFFER_OVERFLOW);
    return NULL;
  }
  path[length] = '\\';
  CopyText(path + length + 1, name);
  return LoadLibraryExA(path, NULL, LOAD_WITH_ALTERED_SEARCH_PATH);
}
