// Stands in for a package's Setup.exe. It records what it was given and
// what it saw, then exits with the code it was told to use.
//   ZV_SETUP_RECORD  file to append the record to (a Windows path)
//   ZV_SETUP_EXIT    exit code, decimal (default 0)
//   ZV_SETUP_SLEEP   milliseconds to stay alive first (default 0)
//   ZV_SETUP_BROADCAST  when set, announce a changed environment to every
//                    top-level window first and wait for all to answer, as
//                    setup programs that change PATH do
#include <windows.h>

#include <cstdio>
#include <cstdlib>

int main() {
  char value[MAX_PATH];
  DWORD sleep = 0;
  if (GetEnvironmentVariableA("ZV_SETUP_SLEEP", value, sizeof(value)))
    sleep = strtoul(value, NULL, 10);
  Sleep(sleep);
  const bool broadcast = GetEnvironmentVariableA("ZV_SETUP_BROADCAST", value, sizeof(value)) != 0;
  if (broadcast)
    SendMessageA(HWND_BROADCAST, WM_SETTINGCHANGE, 0, reinterpret_cast<LPARAM>("Environment"));

  char directory[MAX_PATH] = {};
  GetCurrentDirectoryA(sizeof(directory), directory);
  HWND installer = FindWindowA("CZVsexwnd", NULL);
  if (GetEnvironmentVariableA("ZV_SETUP_RECORD", value, sizeof(value))) {
    FILE* out = fopen(value, "a");
    if (out) {
      fprintf(out, "cmdline=%s\ncwd=%s\ninstaller_window=%d\ninstaller_visible=%d\n",
              GetCommandLineA(), directory, installer ? 1 : 0,
              installer && IsWindowVisible(installer) ? 1 : 0);
      if (broadcast)
        fprintf(out, "broadcast=answered\n");
      fclose(out);
    }
  }
  DWORD code = 0;
  if (GetEnvironmentVariableA("ZV_SETUP_EXIT", value, sizeof(value)))
    code = strtoul(value, NULL, 10);
  return static_cast<int>(code);
}
