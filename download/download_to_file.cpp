#include "download/download_to_file.h"

#include "shell/system_library.h"

namespace {

typedef HRESULT(WINAPI* URLDownloadToFileAFn)(LPUNKNOWN, LPCSTR, LPCSTR, DWORD,
                                              LPBINDSTATUSCALLBACK);
typedef BOOL(WINAPI* DeleteUrlCacheEntryAFn)(LPCSTR);

// The value the original caller passes in the documented-as-reserved
// argument.
const DWORD kDownloadReserved = 0x250;

template <typename Routine>
Routine LookUp(HMODULE module, const char* name) {
  return reinterpret_cast<Routine>(reinterpret_cast<void*>(GetProcAddress(module, name)));
}

HRESULT LastErrorAsHresult() {
  const DWORD error = GetLastError();
  return HRESULT_FROM_WIN32(error ? error : ERROR_PROC_NOT_FOUND);
}

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
  URLDownloadToFileAFn download = LookUp<URLDownloadToFileAFn>(urlmon, "URLDownloadToFileA");
  DeleteUrlCacheEntryAFn deleteCacheEntry =
      LookUp<DeleteUrlCacheEntryAFn>(wininet, "DeleteUrlCacheEntryA");
  if (!download || !deleteCacheEntry)
    return LastErrorAsHresult();

  deleteCacheEntry(url);
  return download(NULL, url, path, kDownloadReserved,
                  sink ? AsBindStatusCallback(&callback) : NULL);
}
