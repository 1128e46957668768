#include "install/install_step.h"

#include <stddef.h>

#include "install/cabinet.h"
#include "install/fs_helpers.h"
#include "install/private_directory.h"
#include "shell/sent_messages.h"
#include "shell/state.h"
#include "shell/status.h"
#include "shell/system_library.h"
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

typedef BOOL(WINAPI* QueryFullProcessImageNameAFn)(HANDLE, DWORD, LPSTR, PDWORD);
typedef BOOL(WINAPI* QueryInformationJobObjectFn)(HANDLE, JOBOBJECTINFOCLASS, LPVOID, DWORD,
                                                  LPDWORD);

// `path`'s final path into `out` (kPathCapacity bytes, may be `path`'s
// own buffer): the same file or directory gives the same name however it
// is reached, through short names, another case, a \\?\ prefix, a SUBST
// drive or a junction.
bool GetFinalPath(const char* path, char* out) {
  HANDLE file = CreateFileA(path, 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, NULL,
                            OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, NULL);
  if (file == INVALID_HANDLE_VALUE)
    return false;
  const DWORD length = GetFinalPathNameByHandleA(file, out, kPathCapacity, 0);
  CloseHandle(file);
  return length && length < static_cast<DWORD>(kPathCapacity);
}

// true while `process` runs a program from inside the directory whose
// final path is `directory`.
bool RunsFrom(HANDLE process, const char* directory, QueryFullProcessImageNameAFn imageName) {
  char image[kPathCapacity];
  DWORD size = kPathCapacity;
  const int length = TextLength(directory);
  if (WaitForSingleObject(process, 0) != WAIT_TIMEOUT || !imageName(process, 0, image, &size) ||
      !GetFinalPath(image, image) || image[length] != '\\')
    return false;
  image[length] = 0;
  return !lstrcmpiA(image, directory);
}

// The IDs of all `job`'s processes, however many: the list is sized from
// the count the job gives, and asked for again while more join. To be
// freed with LocalFree; NULL when it cannot be read.
JOBOBJECT_BASIC_PROCESS_ID_LIST* ListJobProcesses(HANDLE job, QueryInformationJobObjectFn query) {
  DWORD count = 1;
  for (;;) {
    const DWORD size = sizeof(JOBOBJECT_BASIC_PROCESS_ID_LIST) + (count - 1) * sizeof(ULONG_PTR);
    JOBOBJECT_BASIC_PROCESS_ID_LIST* list =
        static_cast<JOBOBJECT_BASIC_PROCESS_ID_LIST*>(LocalAlloc(LMEM_FIXED, size));
    if (!list || query(job, JobObjectBasicProcessIdList, list, size, NULL))
      return list;
    const DWORD error = GetLastError();
    count = list->NumberOfAssignedProcesses;
    LocalFree(list);
    if (error != ERROR_MORE_DATA)
      return NULL;
  }
}

// Waits until no process of `job` runs a program from inside `directory`:
// Setup's second stages, started directly or through others. What runs
// from elsewhere (the installed application, say) is left to run.
void WaitForPackagePrograms(HANDLE job, const char* directory, LookUpRoutineFn lookUp) {
  const QueryInformationJobObjectFn query =
      LookUpRoutine<QueryInformationJobObjectFn>(lookUp, "QueryInformationJobObject");
  const QueryFullProcessImageNameAFn imageName =
      LookUpRoutine<QueryFullProcessImageNameAFn>(lookUp, "QueryFullProcessImageNameA");
  char inside[kPathCapacity];
  if (!query || !imageName || !GetFinalPath(directory, inside))
    return;
  for (;;) {
    JOBOBJECT_BASIC_PROCESS_ID_LIST* ids = ListJobProcesses(job, query);
    if (!ids)
      return;
    HANDLE found = NULL;
    for (DWORD i = 0; i < ids->NumberOfProcessIdsInList && !found; ++i) {
      HANDLE process = OpenProcess(SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION, FALSE,
                                   static_cast<DWORD>(ids->ProcessIdList[i]));
      if (process && RunsFrom(process, inside, imageName))
        found = process;
      else if (process)
        CloseHandle(process);
    }
    LocalFree(ids);
    if (!found)
      return;
    WaitAnsweringSentMessages(found);
    CloseHandle(found);
  }
}

}  // namespace

DWORD RunAndWait(char* commandLine, const char* workingDirectory, DWORD* exitCode,
                 LookUpRoutineFn lookUp) {
  STARTUPINFOA startup = {};
  startup.cb = sizeof(startup);
  startup.dwFlags = STARTF_USESHOWWINDOW;
  startup.wShowWindow = SW_SHOWNORMAL;
  PROCESS_INFORMATION process = {};
  // Setup and everything it starts form one group, so that programs it
  // hands over to are found; it is put there before it runs. Nothing ends
  // when the group's handle is closed, and a program may still leave the
  // group when it asks to. Only where jobs nest, from Windows 8 on (as
  // CreateFile2 does; the version the system reports says nothing, the
  // manifest caps it at 7): before, a program in the group could put
  // nothing it starts in a job of its own, a bootstrapper's or an
  // application's sandbox.
  typedef HANDLE(WINAPI * CreateJobObjectAFn)(LPSECURITY_ATTRIBUTES, LPCSTR);
  const CreateJobObjectAFn createJob =
      lookUp("CreateFile2") ? LookUpRoutine<CreateJobObjectAFn>(lookUp, "CreateJobObjectA") : NULL;
  // As DWORDs: the structure's 8-byte alignment would have the whole
  // frame realigned and every local reached through long displacements.
  DWORD limits[sizeof(JOBOBJECT_EXTENDED_LIMIT_INFORMATION) / sizeof(DWORD)] = {};
  limits[offsetof(JOBOBJECT_EXTENDED_LIMIT_INFORMATION, BasicLimitInformation.LimitFlags) /
         sizeof(DWORD)] = JOB_OBJECT_LIMIT_BREAKAWAY_OK;
  HANDLE job = createJob ? createJob(NULL, NULL) : NULL;
  if (job)
    SetInformationJobObject(job, JobObjectExtendedLimitInformation, limits, sizeof(limits));
  if (!CreateProcessA(NULL, commandLine, NULL, NULL, FALSE, CREATE_SUSPENDED, NULL,
                      workingDirectory, &startup, &process)) {
    const DWORD error = GetLastError();
    CloseHandle(job);
    return error;
  }
  // No group (jobs do not nest, none could be made, or the installer's
  // job refuses one inside it): Setup alone is waited for.
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
    WaitForPackagePrograms(job, workingDirectory, lookUp);
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
    const DWORD error = RunAndWait(commandLine, directory, &exitCode, LookUpKernelRoutine);
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
