#include "shell/accessible.h"

#include <oleacc.h>
#include <stddef.h>
#include <string.h>

#include "shell/main_window.h"
#include "shell/state.h"
#include "shell/system_library.h"

// The 25 operations after IUnknown's, in IAccessible's slot order, pass
// through to the standard object in one piece of code: stub N pushes N
// and jumps to the common part, which puts the standard object in the
// caller's place of `this` and jumps to its operation N. Every operation
// is __stdcall and the callee pops its own arguments, so it returns
// straight to the caller, whatever it takes. Each stub is 4 bytes, so
// that the table below can be filled by counting.
asm(R"(
  .text
  .globl _ForwardingStubs
_ForwardingStubs:
  .irp slot, 3,4,5,6,7,8,9,10,11,12,13,14,15,16,17,18,19,20,21,22,23,24,25,26,27
  .byte 0x6a, \slot, 0xeb, ForwardToStandard - . - 1
  .endr
ForwardToStandard:
  pop %eax
  mov 4(%esp), %ecx
  mov 4(%ecx), %ecx
  mov %ecx, 4(%esp)
  mov (%ecx), %edx
  jmp *(%edx,%eax,4)
)");

extern "C" void ForwardingStubs();

namespace {

const int kStubSize = 4;
const int kOperationCount = 28;  // IUnknown 3, IDispatch 4, IAccessible 21
// The slots answered here; every other one the stubs pass through.
enum { kQueryInterface, kAddRef, kRelease, kGetName = 10, kGetValue = 11, kGetRole = 13 };
// The name after a failure: the title and the failure, whose status tag
// and code wsprintfW never makes longer than 1024 units.
const int kDescriptionCapacity = 1100;

struct AccessibleProgress {
  void** table;           // first, as COM requires
  IAccessible* standard;  // second, where the stubs find it
  void* operations[kOperationCount];
};
static_assert(offsetof(AccessibleProgress, standard) == 4, "the stubs read it at 4");

// One per process, as the window is, with the standard object it passes
// on to: both stay until the process ends, since a screen reader may hold
// them as long. Counting references would free nothing.
AccessibleProgress g_accessible;

// IAccessible, IDispatch and IUnknown: the interfaces this object is.
const IID kOwnIids[] = {
    {0x618736E0, 0x3C3D, 0x11CF, {0x81, 0x0C, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71}},
    {0x00020400, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}},
    {0x00000000, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}},
};

typedef HRESULT(WINAPI* CreateStdAccessibleObjectFn)(HWND, LONG, REFIID, void**);
typedef LRESULT(WINAPI* LresultFromObjectFn)(REFIID, WPARAM, LPUNKNOWN);
typedef BSTR(WINAPI* SysAllocStringFn)(const OLECHAR*);

// AddRef and Release alike.
ULONG STDMETHODCALLTYPE KeepAlive(AccessibleProgress*) {
  return 1;
}

// Only the interfaces whose operations the table holds: any other the
// standard object answered would be another object to the caller, and one
// that marshals itself would be handed out in this one's place.
HRESULT STDMETHODCALLTYPE QueryInterface(AccessibleProgress* self, REFIID riid, void** ppv) {
  *ppv = NULL;
  for (const IID& iid : kOwnIids) {
    if (!memcmp(&riid, &iid, sizeof(IID))) {
      *ppv = self;
      return S_OK;
    }
  }
  return E_NOINTERFACE;
}

// The name (`name`) or the value as a screen reader reads it. The client
// area has no children: `child` can only be the object itself.
HRESULT Describe(BSTR* out, bool name) {
  // The value's failure is the name's without the title's full stop.
  static const WCHAR kFailed[] = L". Failed: %s";
  WCHAR text[kDescriptionCapacity];
  WCHAR* end = text;
  if (name)
    end += wsprintfW(text, L"%hs", kMainWindowTitle);
  LockStatus();
  if (g_errorShown)
    wsprintfW(end, name ? kFailed : kFailed + 2, g_statusText);
  else if (!name)
    wsprintfW(end, g_percent == kNoPercent ? L"Downloading" : L"%u%%", g_percent);
  UnlockStatus();
  SysAllocStringFn allocate =
      LookUpRoutine<SysAllocStringFn>(LoadSystemLibrary("oleaut32"), "SysAllocString");
  *out = allocate ? allocate(text) : NULL;
  return *out ? S_OK : E_OUTOFMEMORY;
}

HRESULT STDMETHODCALLTYPE GetName(AccessibleProgress*, VARIANT, BSTR* name) {
  return Describe(name, true);
}

HRESULT STDMETHODCALLTYPE GetValue(AccessibleProgress*, VARIANT, BSTR* value) {
  return Describe(value, false);
}

HRESULT STDMETHODCALLTYPE GetRole(AccessibleProgress*, VARIANT, VARIANT* role) {
  role->vt = VT_I4;
  role->lVal = ROLE_SYSTEM_PROGRESSBAR;
  return S_OK;
}

}  // namespace

LRESULT AnswerAccessibleObject(HWND hwnd, WPARAM flags) {
  // Not one of the libraries Windows always takes from the system
  // directory; never unloaded, since the objects' code lives in it.
  // Looked up in no module (NULL), a routine is not found.
  HMODULE oleacc = LoadSystemLibrary("oleacc");
  CreateStdAccessibleObjectFn createStandard =
      LookUpRoutine<CreateStdAccessibleObjectFn>(oleacc, "CreateStdAccessibleObject");
  LresultFromObjectFn answer = LookUpRoutine<LresultFromObjectFn>(oleacc, "LresultFromObject");
  AccessibleProgress* self = &g_accessible;
  // Its members reached from a register: as absolute addresses each use
  // would be longer and relocated.
  asm("" : "+r"(self));
  if (!answer || !createStandard)
    return 0;
  if (!self->standard) {
    void** operations = self->operations;
    BYTE* stub = reinterpret_cast<BYTE*>(&ForwardingStubs);
    for (int slot = kRelease + 1; slot < kOperationCount; ++slot, stub += kStubSize)
      operations[slot] = stub;
    operations[kQueryInterface] = reinterpret_cast<void*>(QueryInterface);
    operations[kAddRef] = reinterpret_cast<void*>(KeepAlive);
    operations[kRelease] = reinterpret_cast<void*>(KeepAlive);
    operations[kGetName] = reinterpret_cast<void*>(GetName);
    operations[kGetValue] = reinterpret_cast<void*>(GetValue);
    operations[kGetRole] = reinterpret_cast<void*>(GetRole);
    self->table = operations;
    if (FAILED(createStandard(hwnd, OBJID_CLIENT, kOwnIids[0],
                              reinterpret_cast<void**>(&self->standard))))
      self->standard = NULL;
  }
  const LRESULT result =
      self->standard ? answer(kOwnIids[0], flags, reinterpret_cast<IUnknown*>(self)) : 0;
  return result < 0 ? 0 : result;
}

void AnnounceProgress(DWORD event) {
  NotifyWinEvent(event, g_mainWnd, OBJID_CLIENT, CHILDID_SELF);
}
