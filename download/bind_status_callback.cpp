#include "download/bind_status_callback.h"

#include "download/download_to_file.h"
#include "shell/state.h"
#include "shell/text.h"

namespace {

const IID kIidUnknown = {0x00000000, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
const IID kIidBindStatusCallback = {0x79EAC9C1, 0xBAF9, 0x11CE, {0x8C, 0x82, 0x00, 0xAA, 0x00, 0x4B, 0xA9, 0x0B}};

bool IsCancelled(BindStatusCallback* self) {
  const volatile BYTE* flag = self->cancelFlag;
  return flag && *flag;
}

bool SameIid(REFIID a, const IID& b) {
  const BYTE* x = reinterpret_cast<const BYTE*>(&a);
  const BYTE* y = reinterpret_cast<const BYTE*>(&b);
  for (int i = 0; i < 16; ++i) {
    if (x[i] != y[i])
      return false;
  }
  return true;
}

ULONG STDMETHODCALLTYPE AddRef(BindStatusCallback* self) {
  return static_cast<ULONG>(++self->refCount);
}

// The object lives in its owner's storage: reaching 0 frees nothing.
ULONG STDMETHODCALLTYPE Release(BindStatusCallback* self) {
  return static_cast<ULONG>(--self->refCount);
}

HRESULT STDMETHODCALLTYPE QueryInterface(BindStatusCallback* self, REFIID riid, void** ppv) {
  *ppv = NULL;
  if (!SameIid(riid, kIidUnknown) && !SameIid(riid, kIidBindStatusCallback))
    return E_NOINTERFACE;
  *ppv = self;
  AddRef(self);
  return S_OK;
}

HRESULT STDMETHODCALLTYPE OnStartBinding(BindStatusCallback*, DWORD, IBinding*) { return S_OK; }
HRESULT STDMETHODCALLTYPE GetPriority(BindStatusCallback*, LONG*) { return E_NOTIMPL; }
HRESULT STDMETHODCALLTYPE OnLowResource(BindStatusCallback*, DWORD) { return S_OK; }

// `text` into `out` (`capacity` units) when it fits, else nothing: cut
// short, it would name something else.
void Keep(WCHAR* out, LPCWSTR text, int capacity) {
  if (!out || !text)
    return;
  out[0] = 0;
  if (TextLength(text) < capacity)
    CopyText(out, text);
}

// Every report reaches the sink whatever its status code.
HRESULT STDMETHODCALLTYPE OnProgress(BindStatusCallback* self, ULONG progress,
                                     ULONG progressMax, ULONG statusCode, LPCWSTR statusText) {
  if (IsCancelled(self))
    return E_ABORT;
  // What the stall watch counts silence by: the most bytes reported, and
  // once the announced length or the end of the data has arrived, all of
  // them; whatever comes after (the platform's last copy, a virus scan)
  // is no silence.
  DWORD received = g_received;
  if (progress > received)
    received = progress;
  if ((progressMax && progress >= progressMax) || statusCode == BINDSTATUS_ENDDOWNLOADDATA)
    received = kAllReceived;
  g_received = received;
  if (statusCode == BINDSTATUS_REDIRECTING)
    Keep(self->finalUrl, statusText, kUrlCapacity);
  else if (statusCode == BINDSTATUS_CACHEFILENAMEAVAILABLE)
    Keep(self->cacheFile, statusText, kPathCapacity);
  if (self->sink)
    self->sink(progress, progressMax);
  return S_OK;
}

HRESULT STDMETHODCALLTYPE OnStopBinding(BindStatusCallback*, HRESULT, LPCWSTR) { return S_OK; }
HRESULT STDMETHODCALLTYPE GetBindInfo(BindStatusCallback*, DWORD*, BINDINFO*) { return S_OK; }

HRESULT STDMETHODCALLTYPE OnDataAvailable(BindStatusCallback* self, DWORD, DWORD,
                                          FORMATETC*, STGMEDIUM*) {
  return IsCancelled(self) ? E_ABORT : S_OK;
}

HRESULT STDMETHODCALLTYPE OnObjectAvailable(BindStatusCallback*, REFIID, IUnknown*) { return S_OK; }

const BindStatusCallbackTable kBindStatusCallbackTable = {
    QueryInterface, AddRef,  Release,       OnStartBinding,  GetPriority,       OnLowResource,
    OnProgress,     OnStopBinding, GetBindInfo, OnDataAvailable, OnObjectAvailable,
};

}  // namespace

void InitBindStatusCallback(BindStatusCallback* callback, ProgressSink sink,
                            const volatile BYTE* cancelFlag, WCHAR* finalUrl,
                            WCHAR* cacheFile) {
  callback->table = &kBindStatusCallbackTable;
  callback->refCount = 1;
  callback->sink = sink;
  callback->cancelFlag = cancelFlag;
  callback->finalUrl = finalUrl;
  callback->cacheFile = cacheFile;
  if (finalUrl)
    finalUrl[0] = 0;
  if (cacheFile)
    cacheFile[0] = 0;
  CoInitialize(NULL);
}
