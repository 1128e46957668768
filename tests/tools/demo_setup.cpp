// The demo package's Setup.exe: shows its own window for a moment and
// copies the package's app\ folder to "Program Files\Zelvio Viewer".
// Exits 0 when everything was copied, otherwise with the system error.
#include <windows.h>

#include <cstdio>
#include <cstring>

namespace {

const char kClassName[] = "ZVDemoSetup";
const UINT kShowMilliseconds = 1500;
char g_message[256] = "Installing Zelvio Viewer...";

LRESULT CALLBACK WindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_PAINT: {
      PAINTSTRUCT paint;
      HDC hdc = BeginPaint(hwnd, &paint);
      RECT rc;
      GetClientRect(hwnd, &rc);
      FillRect(hdc, &rc, static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH)));
      DrawTextA(hdc, g_message, -1, &rc, DT_CENTER | DT_VCENTER | DT_SINGLELINE);
      EndPaint(hwnd, &paint);
      return 0;
    }
    case WM_TIMER:
      DestroyWindow(hwnd);
      return 0;
    case WM_DESTROY:
      PostQuitMessage(0);
      return 0;
  }
  return DefWindowProcA(hwnd, message, wParam, lParam);
}

DWORD CopyApplication(const char* target) {
  CreateDirectoryA(target, NULL);
  WIN32_FIND_DATAA entry;
  HANDLE find = FindFirstFileA("app\\*", &entry);
  if (find == INVALID_HANDLE_VALUE)
    return GetLastError();
  DWORD error = 0;
  do {
    if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
      continue;
    char from[MAX_PATH], to[MAX_PATH];
    snprintf(from, sizeof(from), "app\\%s", entry.cFileName);
    snprintf(to, sizeof(to), "%s\\%s", target, entry.cFileName);
    if (!CopyFileA(from, to, FALSE))
      error = GetLastError();
  } while (FindNextFileA(find, &entry));
  FindClose(find);
  return error;
}

}  // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR commandLine, int show) {
  if (!strstr(commandLine, "/install"))
    return ERROR_INVALID_PARAMETER;

  char target[MAX_PATH] = "C:\\Program Files";
  GetEnvironmentVariableA("ProgramFiles", target, sizeof(target));
  strncat(target, "\\Zelvio Viewer", sizeof(target) - strlen(target) - 1);
  snprintf(g_message, sizeof(g_message), "Installing Zelvio Viewer into %s ...", target);

  WNDCLASSA windowClass = {};
  windowClass.lpfnWndProc = WindowProc;
  windowClass.hInstance = instance;
  windowClass.hCursor = LoadCursor(NULL, IDC_ARROW);
  windowClass.lpszClassName = kClassName;
  RegisterClassA(&windowClass);
  HWND hwnd = CreateWindowExA(0, kClassName, "Zelvio Viewer Setup", WS_OVERLAPPED | WS_CAPTION,
                              CW_USEDEFAULT, CW_USEDEFAULT, 520, 120, NULL, NULL, instance, NULL);
  ShowWindow(hwnd, show);
  UpdateWindow(hwnd);
  SetTimer(hwnd, 1, kShowMilliseconds, NULL);

  const DWORD error = CopyApplication(target);
  MSG msg;
  while (GetMessageA(&msg, NULL, 0, 0) > 0) {
    TranslateMessage(&msg);
    DispatchMessageA(&msg);
  }
  return static_cast<int>(error);
}
