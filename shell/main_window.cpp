#include "shell/main_window.h"

#include "download/download_worker.h"
#include "install/install_step.h"
#include "install/work_directory.h"
#include "progress/paint.h"
#include "shell/accessible.h"
#include "shell/state.h"
#include "shell/status.h"
#include "shell/taskbar_button.h"

const char kMainClassName[] = "CZVsexwnd";
const char kMainWindowTitle[] = "Install Zelvio Viewer";

void RegisterMainClass(HINSTANCE instance) {
  WNDCLASSEXA wc = {};
  wc.cbSize = sizeof(wc);
  wc.style = CS_HREDRAW | CS_VREDRAW;
  wc.lpfnWndProc = MainWndProc;
  wc.hInstance = instance;
  wc.hIcon = LoadIconA(instance, "IDI_ICON1");
  wc.hCursor = LoadCursorA(NULL, IDC_ARROW);
  wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
  wc.lpszClassName = kMainClassName;
  RegisterClassExA(&wc);
}

RECT PlaceMainWindow(const RECT& screen) {
  const int screenWidth = screen.right - screen.left;
  const int screenHeight = screen.bottom - screen.top;
  const int side = (screenWidth < screenHeight ? screenWidth : screenHeight) / 2;
  const int width = side < 300 ? 300 : side;
  const int height = width / 4;
  const int x = (screen.left - width + screen.right) / 2;
  const int y = (screen.top + screen.bottom) / 2 - height;
  const RECT window = {x, y, x + width, y + height};
  return window;
}

int CreateMainWindow(const char* title, HINSTANCE instance) {
  // In the display's own pixels (the manifest declares the process aware
  // of each monitor's scale): the window keeps its share of the screen.
  RECT screen;
  GetWindowRect(GetDesktopWindow(), &screen);
  const RECT place = PlaceMainWindow(screen);
  const HWND window = CreateWindowExA(0, kMainClassName, title, WS_CAPTION | WS_SYSMENU,
                                      place.left, place.top, place.right - place.left,
                                      place.bottom - place.top, NULL, NULL, instance, NULL);
  g_mainWnd = window;
  if (!window)
    return 0;
  ShowWindow(window, SW_SHOWNORMAL);
  UpdateWindow(window);
  return 1;
}

namespace {

void OnCreate(HWND hwnd) {
  g_mainWnd = hwnd;
  PrepareTaskbarButton(hwnd);
  const DWORD error = CreateWorkDirectory();
  if (error) {
    ShowStatusError(STATUS_TAG_TEMP_DIR, error);
    return;
  }
  g_downloadThread = CreateThread(NULL, 0, DownloadThreadProc, g_cabinetPath, 0, NULL);
}

void OnDestroy() {
  ReleaseTaskbarButton();
  // The worker is not killed: a thread stopped inside the platform's
  // download code may hold locks the process needs to end. It is silenced
  // instead, and ends with the process.
  LockStatus();
  g_windowClosed = 1;
  const BYTE failed = g_errorShown;
  UnlockStatus();
  PostQuitMessage(failed ? ERROR_INSTALL_FAILURE : ERROR_INSTALL_USEREXIT);
}

}  // namespace

LRESULT CALLBACK MainWndProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  // The button is new (the shell started again, say): it shows the
  // progress once the window is painted.
  if (message == g_taskbarButtonCreated) {
    InvalidateRect(hwnd, NULL, FALSE);
    return 0;
  }
  switch (message) {
    case WM_CREATE:
      // Once: any program may send the message again, and a second work
      // directory and download would leave the first behind.
      if (!g_mainWnd)
        OnCreate(hwnd);
      return 0;
    case WM_DESTROY:
      OnDestroy();
      return 0;
    case WM_PAINT: {
      PAINTSTRUCT ps;
      HDC hdc = BeginPaint(hwnd, &ps);
      if (hdc) {
        PaintProgress(hwnd, hdc);
        EndPaint(hwnd, &ps);
      }
      return 0;
    }
    case WM_GETOBJECT:
      // The window's own accessible object stays the platform's.
      if (static_cast<LONG>(lParam) == OBJID_CLIENT) {
        const LRESULT object = AnswerAccessibleObject(hwnd, wParam);
        if (object)
          return object;
      }
      break;
    case WM_DPICHANGED: {
      // Moved to a monitor of another scale: the rectangle the system
      // suggests keeps the window's size in proportion, and the resize
      // repaints the whole client area (CS_HREDRAW | CS_VREDRAW).
      const RECT* suggested = reinterpret_cast<const RECT*>(lParam);
      MoveWindow(hwnd, suggested->left, suggested->top, suggested->right - suggested->left,
                 suggested->bottom - suggested->top, TRUE);
      return 0;
    }
    case WM_DOWNLOAD_COMPLETE:
      InstallFromCabinet();
      return 0;
  }
  return DefWindowProcA(hwnd, message, wParam, lParam);
}
