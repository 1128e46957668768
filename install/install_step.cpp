#include "install/install_step.h"

#include "install/cabinet.h"
#include "install/fs_helpers.h"
#include "install/private_directory.h"
#include "shell/sent_messages.h"
#include "shell/state.h"
#include "shell/status.h"
#include "shell/text.h"

namespace {

// Messages sent to the window are answered meanwhile: a setup program
// that broadcasts (WM_SETTINGCHANGE after changing PATH) waits for every
// top-level window. Posted ones wait for the message loop, so nothing of
// the installer's own course runs before the wait is over.
void WaitAnsweringSentMessages(HANDLE process) {
  while (MsgWaitForMultipleObjects(1, &process, FALSE, INFINITE, QS_SENDMESSAGE) ==
         WAIT_OBJECT_0 + 1)
    AnswerSentMessages();
}

// true while `process` runs a program from inside `directory`.
bool RunsFrom(HANDLE process, const char* directory) {
  char image[kPathCapacity];
  DWORD size = kPathCapacity;
  const int length = TextLength(directory);
  if (WaitForSingleObject(process, 0) != WAIT_TIMEOUT ||
      !QueryFullProcessImageNameA(process, 0, image, &size) || size <= static_cast<DWORD>(length) ||
      image[length] != '\\')
    return false;
  image[length] = 0;
  return !lstrcmpiA(image, directory);
}

// Waits until no process of `job` runs a program from inside `directory`:
// Setup's second stages, started directly or through others. What runs
// from elsewhere (the installed application, say) is left to run.
void WaitForPackagePrograms(HANDLE job, const char* directory) {
  struct {
    JOBOBJECT_BASIC_PROCESS_ID_LIST list;
    ULONG_PTR more[63];
  } ids;
  for (;;) {
    // A list cut short names the first 64 of them.
    if (!QueryInformationJobObject(job, JobObjectBasicProcessIdList, &ids, sizeof(ids), NULL) &&
        GetLastError() != ERROR_MORE_DATA)
      return;
    HANDLE found = NULL;
    for (DWORD i = 0; i < ids.list.NumberOfProcessIdsInList && !found; ++i) {
      HANDLE process = OpenProcess(SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION, FALSE,
                                   static_cast<DWORD>(ids.list.ProcessIdList[i]));
      if (process && RunsFrom(process, directory))
        found = process;
      else if (process)
        CloseHandle(process);
    }
    if (!found)
      return;
    WaitAnsweringSentMessages(found);
    CloseHandle(found);
  }
}

}  // namespace

DWORD RunAndWait(char* commandLine, const char* workingDirectory, DWORD* exitCode) {
  STARTUPINFOA startup = {};
  startup.cb = sizeof(startup);
  startup.dwFlags = STARTF_USESHOWWINDOW;
  startup.wShowWindow = SW_SHOWNORMAL;
  PROCESS_INFORMATION process = {};
  // Setup and everything it starts form one group, so that programs it
  // hands over to are found; it is put there before it runs. Nothing ends
  // when the group's handle is closed, and a program may still leave the
  // group when it asks to.
  JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits = {};
  limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_BREAKAWAY_OK;
  HANDLE job = CreateJobObjectA(NULL, NULL);
  if (job)
    SetInformationJobObject(job, JobObjectExtendedLimitInformation, &limits, sizeof(limits));
  if (!CreateProcessA(NULL, commandLine, NULL, NULL, FALSE, CREATE_SUSPENDED, NULL,
                      workingDirectory, &startup, &process)) {
    const DWORD error = GetLastError();
    CloseHandle(job);
    return error;
  }
  // No group (none could be made, or the installer's job refuses one
  // inside it): Setup alone is waited for.
  if (!AssignProcessToJobObject(job, process.hProcess)) {
    CloseHandle(job);
    job = NULL;
  }
  ResumeThread(process.hThread);
  ShowWindow(g_mainWnd, SW_HIDE);
  WaitAnsweringSentMessages(process.hProcess);
  // Setup's own code; a code that cannot be read is no evidence of
  // success.
  if (!GetExitCodeProcess(process.hProcess, exitCode))
    *exitCode = ERROR_INSTALL_FAILURE;
  // Never with NULL, which would name the installer's own job.
  if (job) {
    WaitForPackagePrograms(job, workingDirectory);
    CloseHandle(job);
  }
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
