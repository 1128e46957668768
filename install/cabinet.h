// Unpacking of a Microsoft Cabinet with the platform's decoder (FDI).
#pragma once
#include <windows.h>
#include <fdi.h>

#include "shell/state.h"

// The extraction's state is g_extractDir, g_extractCabinet and
// g_writeFailed (shell/state.h).

// true when every file of the cabinet open in `cabinet` has been extracted
// beneath `destinationDirectory` (which exists) and the decoder shut down
// cleanly. FDI reads that file object only; it never opens another
// cabinet of a set.
bool ExtractCabinet(const char* destinationDirectory, HANDLE cabinet);

// g_extractDir + "\\" + the entry's name as stored, decoded (UTF-8 where
// `attributes` mark it so, else the ANSI code page), into `out` (260
// units); false when the name is not valid UTF-8 as marked, could lead
// outside the destination (a ".." or dots-only component, a leading
// separator, a drive or stream colon, a device name such as NUL or COM1)
// or the path would not fit.
bool BuildExtractPath(const char* stored, USHORT attributes, WCHAR* out);

// The decoder's callbacks.
FNALLOC(CabAlloc);
FNFREE(CabFree);
FNOPEN(CabOpen);
FNREAD(CabRead);
FNWRITE(CabWrite);
FNCLOSE(CabClose);
FNSEEK(CabSeek);
FNFDINOTIFY(CabinetNotify);
