// The program's entry point: no language run-time start-up runs before it.
#include <objbase.h>

#include "install/work_directory.h"
#include "shell/main_window.h"
#include "shell/state.h"
#include "shell/system_library.h"

extern "C" int RunInstaller() {
  // The waiting ".", written here rather than by an initialiser (see
  // state.cpp); no other thread runs yet.
  g_statusText[0] = L'.';
  RestrictDllSearchToSystem();
  const HINSTANCE instance = GetModuleHandleA(NULL);
  g_instance = instance;
  CoInitialize(NULL);
  RegisterMainClass(instance);
  if (!CreateMainWindow(kMainWindowTitle, instance))
    return ERROR_INSTALL_FAILURE;

  MSG msg;
  msg.wParam = 0;
  // The flag is tested before every fetch, so the loop ends right after the
  // message whose handler ran the setup program.
  while (!g_setupDone && GetMessageA(&msg, NULL, 0, 0) > 0) {
    TranslateMessage(&msg);
    DispatchMessageA(&msg);
  }
  const UINT exitCode = g_setupDone ? g_setupExitCode : static_cast<UINT>(msg.wParam);
  // Every ending leaves nothing behind, a download cut short included.
  RemoveWorkDirectory();
  CoUninitialize();
  // Also ends the download worker if it still runs.
  TerminateProcess(GetCurrentProcess(), exitCode);
  return static_cast<int>(exitCode);
}
