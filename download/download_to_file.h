// One URL fetched into one file, synchronously, bypassing the URL cache.
#pragma once
#include <windows.h>

#include "download/bind_status_callback.h"

// S_OK when the file has been written, else the platform's failure code
// (or the system error of loading urlmon/wininet as an HRESULT). Once the
// platform's download returns, g_downloadEnd tells whether this call still
// owned it (kDownloadReturned) or it had been abandoned meanwhile.
HRESULT DownloadToFile(const char* url, const char* path, ProgressSink sink);

// g_downloadEnd (shell/state.h): 0 while no download has returned or
// been given up.
const LONG kDownloadReturned = 1;
const LONG kDownloadAbandoned = 2;
// g_received (shell/state.h): the most bytes the download has reported,
// or kAllReceived once the announced length or the end of the data has
// arrived.
const DWORD kAllReceived = 0xFFFFFFFF;

// Gives the download up, unless it has returned: whatever it ends with
// later changes nothing. With `stop` (a stall) its callback also aborts it
// at the next report; without (the process is about to end), it is left
// alone, as an aborted download has the platform write its partial copy
// to the destination meanwhile. true for the one caller that gave it up.
bool AbandonDownload(bool stop);
// After a download that never returned: its copies in the user's Internet
// cache, the partial file the platform named included, are removed, or
// scheduled for the next restart while something holds them.
void RemoveUnfinishedDownload();
