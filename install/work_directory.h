// The installer's own ground: one private directory per run, in a system
// temporary directory where no standard user may rename or delete what an
// administrator created, held from before the download until the end.
#pragma once
#include <windows.h>

// Sets g_tempDir to <system Windows directory>\SystemTemp\ when the work
// directory can be created there, else to <system Windows directory>\Temp\,
// and creates and holds the work directory in it (g_workDir,
// g_workDirHandle). 0, or the system error when neither can be used.
DWORD CreateWorkDirectory();
// Lets go of the package, if still held, and deletes the work directory
// with everything in it.
void RemoveWorkDirectory();
