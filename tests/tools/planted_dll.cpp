// A DLL planted beside an installer under a system DLL's name. Loading it
// leaves a marker file "<its own path>.loaded" and then fails, so a process
// that picks it up by mistake is caught either way.
#include <windows.h>

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
  if (reason != DLL_PROCESS_ATTACH)
    return TRUE;
  char marker[MAX_PATH + 8];
  const DWORD length = GetModuleFileNameA(instance, marker, MAX_PATH);
  if (length == 0 || length >= MAX_PATH)
    return FALSE;
  lstrcatA(marker, ".loaded");
  HANDLE file = CreateFileA(marker, GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                            NULL);
  if (file != INVALID_HANDLE_VALUE)
    CloseHandle(file);
  return FALSE;
}
