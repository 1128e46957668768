// One URL fetched into one file, synchronously, bypassing the URL cache.
#pragma once
#include <windows.h>

#include "download/bind_status_callback.h"

// S_OK when the file has been written, else the platform's failure code
// (or the system error of loading urlmon/wininet as an HRESULT).
HRESULT DownloadToFile(const char* url, const char* path, ProgressSink sink);
