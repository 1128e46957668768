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

// An entry of the cache's index: too large for the stack.
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

// The package's entries in the user's Internet cache, under the address
// asked for and the one a redirection led to.
void DeleteCacheEntries(HMODULE wininet) {
  DeleteUrlCacheEntryAFn deleteCacheEntry =
      LookUpRoutine<DeleteUrlCacheEntryAFn>(wininet, "DeleteUrlCacheEntryA");
  DeleteUrlCacheEntryWFn deleteFinalEntry =
      LookUpRoutine<DeleteUrlCacheEntryWFn>(wininet, "DeleteUrlCacheEntryW");
  if (!deleteCacheEntry || !deleteFinalEntry)
    return;
  // The cache's index is searched only when the copy is not under the
  // address asked for and no redirection was reported.
  if (!deleteCacheEntry(g_packageUrl) && !g_finalUrl[0])
    FindCachedUrl(wininet);
  if (g_finalUrl[0])
    deleteFinalEntry(g_finalUrl);
}

}  // namespace

bool AbandonDownload(bool stop) {
  g_cancelDownload |= stop;
  return !InterlockedCompareExchange(&g_downloadEnd, kDownloadAbandoned, 0);
}

void RemoveUnfinishedDownload() {
  HMODULE wininet = g_packageUrl ? LoadSystemLibrary("wininet.dll") : NULL;
  if (!wininet)
    return;
  DeleteCacheEntries(wininet);
  // An unfinished download has no entry to go with its file. The
  // platform may hold it until the process ends (Wine's does).
  if (g_cacheFile[0] && !DeleteFileW(g_cacheFile) && GetLastError() != ERROR_FILE_NOT_FOUND)
    MoveFileExW(g_cacheFile, NULL, MOVEFILE_DELAY_UNTIL_REBOOT);
}

HRESULT DownloadToFile(const char* url, const char* path, ProgressSink sink) {
  BindStatusCallback callback;
  InitBindStatusCallback(&callback, sink, &g_cancelDownload, g_finalUrl, g_cacheFile);

  // From the system directory only, never by static import. Neither is
  // unloaded: the platform's download may leave its own threads in them.
  HMODULE urlmon = LoadSystemLibrary("urlmon.dll");
  HMODULE wininet = urlmon ? LoadSystemLibrary("wininet.dll") : NULL;
  URLDownloadToFileAFn download =
      wininet ? LookUpRoutine<URLDownloadToFileAFn>(urlmon, "URLDownloadToFileA") : NULL;
  HRESULT result = download ? S_OK : LastErrorAsHresult();
  if (download) {
    // Before: the file comes from the server, not from the cache. After,
    // whatever the result: the platform downloads through the user's
    // cache, and no copy of the package may stay there, neither under the
    // address asked for nor under the one a redirection (any CDN's) led
    // to.
    g_packageUrl = url;
    DeleteCacheEntries(wininet);
    result = download(NULL, url, path, kDownloadReserved,
                      sink ? AsBindStatusCallback(&callback) : NULL);
  }
  // Given up meanwhile: whoever gave it up removes what it left.
  if (!InterlockedCompareExchange(&g_downloadEnd, kDownloadReturned, 0) && download)
    DeleteCacheEntries(wininet);
  return result;
}
