// Unpacking of a Microsoft Cabinet with the platform's decoder (FDI).
#pragma once
#include <windows.h>
#include <fdi.h>

extern char g_extractDir[260];

// true when every file of `cabinetPath` has been extracted beneath
// `destinationDirectory` and the decoder shut down cleanly.
bool ExtractCabinet(const char* destinationDirectory, const char* cabinetPath);

// g_extractDir + "\\" + `name` into `out` (260 bytes); false when `name`
// could lead outside the destination (a ".." or dots-only component, a
// leading separator, a drive or stream colon, a device name such as NUL or
// COM1) or the path would not fit.
bool BuildExtractPath(const char* name, char* out);

// The decoder's callbacks.
FNALLOC(CabAlloc);
FNFREE(CabFree);
FNOPEN(CabOpen);
FNREAD(CabRead);
FNWRITE(CabWrite);
FNCLOSE(CabClose);
FNSEEK(CabSeek);
FNFDINOTIFY(CabinetNotify);
