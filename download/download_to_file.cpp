#include "download/download_to_file.h"

#include "shell/system_library.h"

namespace {

typedef HRESULT(WINAPI* URLDownloadToFileAFn)(LPUNKNOWN, LPCSTR, LPCSTR, DWORD,
                                              LPBINDSTATUSCALLBACK);
typedef BOOL(WINAPI* DeleteUrlCacheEntryAFn)(LPCSTR);

// Sent in the argument the platform documents as reserved.
const DWORD kDownloadReserved = 0x250;

}  // namespace

HRESULT DownloadToFile(const char* url, const char* path, ProgressSink sink) {
  volatile BYTE cancel = 0;
  BindStatusCallback callback;
  InitBindStatusCallback(&callback, sink, &cancel);

  // From the system directory only, never by static import. Neither is
  // unloaded: the platform's download may leave its own threads in them.
  HMODULE urlmon = LoadSystemLibrary("urlmon.dll");
  if (!urlmon)
    return LastErrorAsHresult();
  HMODULE wininet = LoadSystemLibrary("wininet.dll");
  if (!wininet)
    return LastErrorAsHresult();
  URLDownloadToFileAFn download = LookUpRoutine<URLDownloadToFileAFn>(urlmon, "URLDownloadToFileA");
  DeleteUrlCacheEntryAFn deleteCacheEntry =
      LookUpRoutine<DeleteUrlCacheEntryAFn>(wininet, "DeleteUrlCacheEntryA");
  if (!download || !deleteCacheEntry)
    return LastErrorAsHresult();

  // Before: the file comes from the server, not from the cache. After,
  // whatever the result: the platform downloads through the user's cache,
  // and no copy of the package may stay there.
  deleteCacheEntry(url);
  const HRESULT result = download(NULL, url, path, kDownloadReserved,
                                  sink ? AsBindStatusCallback(&callback) : NULL);
  deleteCacheEntry(url);
  return result;
}
