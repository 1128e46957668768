// The installer's IBindStatusCallback, written as a table of operations
// over a plain record: it passes progress on and answers E_ABORT when its
// owner's cancel flag is set.
#pragma once
#include <windows.h>
#include <urlmon.h>

#include "shell/state.h"

typedef void (*ProgressSink)(DWORD progress, DWORD progressMax);

struct BindStatusCallback;

// IBindStatusCallback's operations in the interface's slot order.
struct BindStatusCallbackTable {
  HRESULT(STDMETHODCALLTYPE* QueryInterface)(BindStatusCallback* self, REFIID riid, void** ppv);
  ULONG(STDMETHODCALLTYPE* AddRef)(BindStatusCallback* self);
  ULONG(STDMETHODCALLTYPE* Release)(BindStatusCallback* self);
  HRESULT(STDMETHODCALLTYPE* OnStartBinding)(BindStatusCallback* self, DWORD reserved, IBinding* binding);
  HRESULT(STDMETHODCALLTYPE* GetPriority)(BindStatusCallback* self, LONG* priority);
  HRESULT(STDMETHODCALLTYPE* OnLowResource)(BindStatusCallback* self, DWORD reserved);
  HRESULT(STDMETHODCALLTYPE* OnProgress)(BindStatusCallback* self, ULONG progress, ULONG progressMax,
                                         ULONG statusCode, LPCWSTR statusText);
  HRESULT(STDMETHODCALLTYPE* OnStopBinding)(BindStatusCallback* self, HRESULT result, LPCWSTR error);
  HRESULT(STDMETHODCALLTYPE* GetBindInfo)(BindStatusCallback* self, DWORD* flags, BINDINFO* info);
  HRESULT(STDMETHODCALLTYPE* OnDataAvailable)(BindStatusCallback* self, DWORD flags, DWORD size,
                                              FORMATETC* format, STGMEDIUM* medium);
  HRESULT(STDMETHODCALLTYPE* OnObjectAvailable)(BindStatusCallback* self, REFIID riid, IUnknown* object);
};

struct BindStatusCallback {
  const BindStatusCallbackTable* table;  // first, as COM requires
  LONG refCount;
  ProgressSink sink;
  const volatile BYTE* cancelFlag;
  // Where the package went besides its destination, so that no copy is
  // left there: the address the last redirection led to (kUrlCapacity
  // units) and the platform's cache file (kPathCapacity units), each empty
  // while not reported, or when too long to keep.
  WCHAR* finalUrl;
  WCHAR* cacheFile;
};

// Fills `callback` (count 1) and enters COM on the calling thread.
void InitBindStatusCallback(BindStatusCallback* callback, ProgressSink sink,
                            const volatile BYTE* cancelFlag, WCHAR* finalUrl = NULL,
                            WCHAR* cacheFile = NULL);

// The record seen as the interface the platform calls through.
inline IBindStatusCallback* AsBindStatusCallback(BindStatusCallback* callback) {
  return reinterpret_cast<IBindStatusCallback*>(callback);
}
