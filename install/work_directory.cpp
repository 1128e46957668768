#include "install/work_directory.h"

#include "install/private_directory.h"
#include "shell/state.h"
#include "shell/text.h"

namespace {

// Both end in a backslash, as a directory does in g_tempDir.
const char kTempDirectories[][13] = {"\\SystemTemp\\", "\\Temp\\"};

}  // namespace

DWORD CreateWorkDirectory() {
  // The system's Windows directory, not a per-user one that
  // GetWindowsDirectory may give a program on a terminal server.
  const UINT length = GetSystemWindowsDirectoryA(g_tempDir, kPathCapacity - 12);
  if (!length || length >= static_cast<UINT>(kPathCapacity) - 12)
    return length ? ERROR_FILENAME_EXCED_RANGE : GetLastError();
  for (const char* name : kTempDirectories) {
    CopyText(g_tempDir + length, name);
    HANDLE held = CreatePrivateDirectory(g_tempDir, "ZVinsW", g_workDir);
    if (held) {
      g_workDirHandle = held;
      return 0;
    }
  }
  const DWORD error = GetLastError();
  g_tempDir[0] = 0;
  return error;
}

void RemoveWorkDirectory() {
  // The package goes with its last handle.
  HANDLE cabinet = TakeCabinetFile();
  if (cabinet)
    CloseHandle(cabinet);
  if (g_workDirHandle)
    DeleteHeldDirectory(g_workDir, g_workDirHandle);
  g_workDirHandle = NULL;
}
