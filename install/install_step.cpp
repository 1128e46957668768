#include "install/install_step.h"

#include "install/cabinet.h"
#include "install/fs_helpers.h"
#include "install/private_directory.h"
#include "shell/sent_messages.h"
#include "shell/state.h"
#include "shell/status.h"

DWORD RunAndWait(char* commandLine, const char* workingDirectory, DWORD* exitCode) {
  STARTUPINFOA startup = {};
  startup.cb = sizeof(startup);
  startup.dwFlags = STARTF_USESHOWWINDOW;
  startup.wShowWindow = SW_SHOWNORMAL;
  PROCESS_INFORMATION process = {};
  if (!CreateProcessA(NULL, commandLine, NULL, NULL, FALSE, 0, NULL, workingDirectory, &startup,
                      &process))
    return GetLastError();
  ShowWindow(g_mainWnd, SW_HIDE);
  // Messages sent to the window are answered meanwhile: a setup program
  // that broadcasts (WM_SETTINGCHANGE after changing PATH) waits for every
  // top-level window. Posted ones wait for the message loop, so nothing of
  // the installer's own course runs before Setup has ended.
  while (MsgWaitForMultipleObjects(1, &process.hProcess, FALSE, INFINITE, QS_SENDMESSAGE) ==
         WAIT_OBJECT_0 + 1)
    AnswerSentMessages();
  // A code that cannot be read is no evidence of success.
  if (!GetExitCodeProcess(process.hProcess, exitCode))
    *exitCode = ERROR_INSTALL_FAILURE;
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  return 0;
}

void InstallFromCabinet() {
  // Only a package the worker checked and still holds, and only once: the
  // message alone proves nothing.
  HANDLE cabinet = TakeCabinetFile();
  if (!cabinet)
    return;
  char directory[kPathCapacity];
  HANDLE held = CreatePrivateDirectory(g_workDir, "ZVinsD", directory);
  if (!held || !ExtractCabinet(directory, cabinet)) {
    ShowStatusMessage(STATUS_TAG_EXTRACT);
  } else {
    char commandLine[2 * kPathCapacity];
    wsprintfA(commandLine, "\"%s\\Setup.exe\" /install", directory);
    DWORD exitCode = 0;
    const DWORD error = RunAndWait(commandLine, directory, &exitCode);
    if (error) {
      ShowStatusError(STATUS_TAG_LAUNCH, error);
    } else {
      g_setupExitCode = exitCode;
      g_setupDone = 1;
    }
  }
  if (held)
    DeleteHeldDirectory(directory, held);
  // Held since the worker checked it, and opened to be deleted with its
  // last handle: closing it now that nothing reads it removes the cabinet.
  CloseHandle(cabinet);
}
