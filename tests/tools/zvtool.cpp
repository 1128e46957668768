// Test helper run under Wine beside the installer: starts a program and
// records its full 32-bit exit code (wine's own status keeps only the low
// byte), reports the installer window as a user would see it, and closes
// it the way the close box does.
#include <windows.h>

#include <cstdio>
#include <cstring>

namespace {

int Run(const char* exitFile, int argc, char** argv) {
  // Wine takes the temporary directory from its registry, not from the
  // Unix environment; a test that wants its own sets it here.
  if (argc >= 2 && !strcmp(argv[0], "--temp")) {
    SetEnvironmentVariableA("TMP", argv[1]);
    SetEnvironmentVariableA("TEMP", argv[1]);
    argc -= 2;
    argv += 2;
  }
  // Re-quote the program's arguments into one command line.
  static char commandLine[32768];
  commandLine[0] = 0;
  for (int i = 0; i < argc; ++i) {
    if (i)
      strcat(commandLine, " ");
    strcat(commandLine, "\"");
    strcat(commandLine, argv[i]);
    strcat(commandLine, "\"");
  }
  STARTUPINFOA startup = {};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION process = {};
  if (!CreateProcessA(NULL, commandLine, NULL, NULL, FALSE, 0, NULL, NULL, &startup, &process)) {
    fprintf(stderr, "CreateProcess failed: %lu\n", GetLastError());
    return 2;
  }
  WaitForSingleObject(process.hProcess, INFINITE);
  DWORD code = 0;
  GetExitCodeProcess(process.hProcess, &code);
  FILE* out = fopen(exitFile, "w");
  if (!out)
    return 3;
  fprintf(out, "%lu\n", code);
  fclose(out);
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  return 0;
}

// One line of key=value pairs, or "none".
int Info(const char* className) {
  HWND hwnd = FindWindowA(className, NULL);
  if (!hwnd) {
    printf("none\n");
    return 0;
  }
  RECT window;
  GetWindowRect(hwnd, &window);
  RECT client;
  GetClientRect(hwnd, &client);
  POINT origin = {0, 0};
  ClientToScreen(hwnd, &origin);
  char title[256] = {};
  GetWindowTextA(hwnd, title, sizeof(title));
  char realClass[256] = {};
  GetClassNameA(hwnd, realClass, sizeof(realClass));
  DWORD pid = 0;
  GetWindowThreadProcessId(hwnd, &pid);
  printf("visible=%d style=0x%08lx exstyle=0x%08lx x=%ld y=%ld w=%ld h=%ld "
         "cx=%ld cy=%ld cw=%ld ch=%ld classstyle=0x%08lx pid=%lu class=%s title=%s\n",
         IsWindowVisible(hwnd) ? 1 : 0, GetWindowLongA(hwnd, GWL_STYLE),
         GetWindowLongA(hwnd, GWL_EXSTYLE), window.left, window.top, window.right - window.left,
         window.bottom - window.top, origin.x, origin.y, client.right, client.bottom,
         GetClassLongA(hwnd, GCL_STYLE), pid, realClass, title);
  return 0;
}

int Close(const char* className) {
  HWND hwnd = FindWindowA(className, NULL);
  if (!hwnd) {
    printf("none\n");
    return 1;
  }
  PostMessageA(hwnd, WM_CLOSE, 0, 0);
  printf("closed\n");
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc >= 4 && !strcmp(argv[1], "run"))
    return Run(argv[2], argc - 3, argv + 3);
  if (argc == 3 && !strcmp(argv[1], "info"))
    return Info(argv[2]);
  if (argc == 3 && !strcmp(argv[1], "close"))
    return Close(argv[2]);
  fprintf(stderr, "usage: zvtool run EXITFILE [--temp DIR] PROGRAM [ARGS...] | info CLASS | close CLASS\n");
  return 64;
}
