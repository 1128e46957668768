#include "download/download_to_file.h"

#include <wininet.h>

#include "shell/state.h"
#include "shell/system_library.h"
#include "shell/text.h"

namespace {

typedef HRESULT(WINAPI* URLDownloadToFileAFn)(LPUNKNOWN, LPCSTR, LPCSTR, DWORD,
                                              LPBINDSTATUSCALLBACK);
typedef BOOL(WINAPI* DeleteUrlCacheEntryAFn)(LPCSTR);
typedef BOOL(WINAPI* DeleteUrlCacheEntryWFn)(LPCWSTR);
typedef HANDLE(WINAPI* FindFirstUrlCacheEntryWFn)(LPCWSTR, LPINTERNET_CACHE_ENTRY_INFOW, LPDWORD);
typedef BOOL(WINAPI* FindNextUrlCacheEntryWFn)(HANDLE, LPINTERNET_CACHE_ENTRY_INFOW, LPDWORD);
typedef BOOL(WINAPI* FindCloseUrlCacheFn)(HANDLE);

// Sent in the argument the platform documents as reserved.
const DWORD kDownloadReserved = 0x250;

// Where the last redirection led and the platform's cache file; too large
// for the stack, as is an entry of the cache's index.
WCHAR g_finalUrl[kUrlCapacity];
WCHAR g_cacheFile[kPathCapacity];
union {
  INTERNET_CACHE_ENTRY_INFOW info;
  BYTE bytes[16384];
} g_cacheEntry;

// The address of the cache entry kept in g_cacheFile, into g_finalUrl: the
// platform may not pass a redirection on (Wine's does not), while it does
// name its cache file. A walk over the whole index, for that case only.
void FindCachedUrl(HMODULE wininet) {
  FindFirstUrlCacheEntryWFn findFirst =
      LookUpRoutine<FindFirstUrlCacheEntryWFn>(wininet, "FindFirstUrlCacheEntryW");
  FindNextUrlCacheEntryWFn findNext =
      LookUpRoutine<FindNextUrlCacheEntryWFn>(wininet, "FindNextUrlCacheEntryW");
  FindCloseUrlCacheFn findClose = LookUpRoutine<FindCloseUrlCacheFn>(wininet, "FindCloseUrlCache");
  DWORD size = sizeof(g_cacheEntry);
  HANDLE find = findFirst && findNext && findClose && g_cacheFile[0]
                    ? findFirst(NULL, &g_cacheEntry.info, &size)
                    : NULL;
  if (!find)
    return;
  do {
    const INTERNET_CACHE_ENTRY_INFOW& entry = g_cacheEntry.info;
    if (entry.lpszLocalFileName && !lstrcmpiW(entry.lpszLocalFileName, g_cacheFile) &&
        entry.lpszSourceUrlName && TextLength(entry.lpszSourceUrlName) < kUrlCapacity)
      CopyText(g_finalUrl, entry.lpszSourceUrlName);
    size = sizeof(g_cacheEntry);
  } while (findNext(find, &g_cacheEntry.info, &size));
  findClose(find);
}

}  // namespace

HRESULT DownloadToFile(const char* url, const char* path, ProgressSink sink) {
  volatile BYTE cancel = 0;
  BindStatusCallback callback;
  InitBindStatusCallback(&callback, sink, &cancel, g_finalUrl, g_cacheFile);

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
  DeleteUrlCacheEntryWFn deleteFinalEntry =
      LookUpRoutine<DeleteUrlCacheEntryWFn>(wininet, "DeleteUrlCacheEntryW");
  if (!download || !deleteCacheEntry || !deleteFinalEntry)
    return LastErrorAsHresult();

  // Before: the file comes from the server, not from the cache. After,
  // whatever the result: the platform downloads through the user's cache,
  // and no copy of the package may stay there, neither under the address
  // asked for nor under the one a redirection (any CDN's) led to.
  deleteCacheEntry(url);
  const HRESULT result = download(NULL, url, path, kDownloadReserved,
                                  sink ? AsBindStatusCallback(&callback) : NULL);
  // The cache's index is searched only when the copy is not under the
  // address asked for and no redirection was reported.
  if (!deleteCacheEntry(url) && !g_finalUrl[0])
    FindCachedUrl(wininet);
  if (g_finalUrl[0])
    deleteFinalEntry(g_finalUrl);
  return result;
}
