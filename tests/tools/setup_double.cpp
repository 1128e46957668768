// Stands in for a package's Setup.exe. It records what it was given and
// what it saw, then exits with the code it was told to use.
//   ZV_SETUP_RECORD  file to append the record to (a Windows path)
//   ZV_SETUP_EXIT    exit code, decimal (default 0)
//   ZV_SETUP_SLEEP   milliseconds to stay alive first (default 0)
#include <windows.h>

#include <cstdio>
#include <cstdlib>

int main() {
  char value[MAX_PATH];
  DWORD sleep = 0;
  if (GetEnvironmentVariableA("ZV_SETUP_SLEEP", value, sizeof(value)))
    sleep = strtoul(value, NULL, 10);
  Sleep(sleep);

  char directory[MAX_PATH] = {};
  GetCurrentDirectoryA(sizeof(directory), directory);
  HWND installer = FindWindowA("CZVsexwnd", NULL);
  if (GetEnvironmentVariableA("ZV_SETUP_RECORD", value, sizeof(value))) {
    FILE* out = fopen(value, "a");
    if (out) {
      fprintf(out, "cmdline=%s\ncwd=%s\ninstaller_window=%d\ninstaller_visible=%d\n",
              GetCommandLineA(), directory, installer ? 1 : 0,
              installer && IsWindowVisible(installer) ? 1 : 0);
      fclose(out);
    }
  }
  DWORD code = 0;
  if (GetEnvironmentVariableA("ZV_SETUP_EXIT", value, sizeof(value)))
    code = strtoul(value, NULL, 10);
  return static_cast<int>(code);
}
