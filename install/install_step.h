// The install step, run on the user-interface thread once the package has
// arrived.
#pragma once
#include <windows.h>

#include "shell/system_library.h"

// Extracts the checked cabinet held open in g_cabinetFile into a fresh
// private directory in the work directory, runs its Setup.exe /install
// there, waits, and deletes the directory and the cabinet whatever
// happened. Sets g_setupDone and g_setupExitCode when the setup ran. Does
// nothing when no checked package is held (any more).
void InstallFromCabinet();

// Starts `commandLine` in `workingDirectory`, hides the window while it runs
// and waits for it, and, where jobs nest, for every program it started
// that runs from inside `workingDirectory`. Returns 0 with the program's
// exit code in `*exitCode`, or the system error of the failed start. The
// job and process-image routines come through `lookUp`.
DWORD RunAndWait(char* commandLine, const char* workingDirectory, DWORD* exitCode,
                 LookUpRoutineFn lookUp);
