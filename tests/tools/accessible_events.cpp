// Test helper run under Wine beside the installer: hears the installer
// window as a screen reader does, from another process. It listens to the
// value, name and alert events of every window of a class and, for each,
// asks the object that raised it for its role, value and name, and the
// window for its title.
//
//   accessible_events CLASS SECONDS
//
// Prints "ready" once it listens, then one line per event, its fields
// separated by tabs: the event, the object id, the role, the value, the
// name and the title (UTF-8), when the event was raised and when the value
// was read (GetTickCount, the same clock in both processes); or the
// event, the object id and "error" with the HRESULT when the object cannot
// be had. Ends after SECONDS, or
// once a window it heard from is gone.
#include <windows.h>
#include <oleacc.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

const char* g_className;
HWND g_heard;

std::string Utf8(const WCHAR* text) {
  if (!text)
    return "(none)";
  char out[2048];
  const int length = WideCharToMultiByte(CP_UTF8, 0, text, -1, out, sizeof(out), NULL, NULL);
  return length ? out : "(unconvertible)";
}

void CALLBACK OnEvent(HWINEVENTHOOK, DWORD event, HWND hwnd, LONG object, LONG child, DWORD,
                      DWORD time) {
  char className[256];
  if (!hwnd || !GetClassNameA(hwnd, className, sizeof(className)) ||
      strcmp(className, g_className))
    return;
  g_heard = hwnd;
  IAccessible* accessible = NULL;
  VARIANT self;
  VariantInit(&self);
  const HRESULT result = AccessibleObjectFromEvent(hwnd, object, child, &accessible, &self);
  if (FAILED(result) || !accessible) {
    printf("0x%lx\t%ld\terror\t0x%08lx\n", event, object, static_cast<unsigned long>(result));
    fflush(stdout);
    return;
  }
  VARIANT role;
  VariantInit(&role);
  BSTR value = NULL;
  BSTR name = NULL;
  // The value first, and when it was read.
  accessible->get_accValue(self, &value);
  const DWORD read = GetTickCount();
  accessible->get_accRole(self, &role);
  accessible->get_accName(self, &name);
  WCHAR title[256] = L"";
  GetWindowTextW(hwnd, title, 256);
  printf("0x%lx\t%ld\t%ld\t%s\t%s\t%s\t%lu\t%lu\n", event, object,
         role.vt == VT_I4 ? role.lVal : -1L, Utf8(value).c_str(), Utf8(name).c_str(),
         Utf8(title).c_str(), time, read);
  fflush(stdout);
  SysFreeString(value);
  SysFreeString(name);
  VariantClear(&role);
  VariantClear(&self);
  accessible->Release();
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    fprintf(stderr, "usage: accessible_events CLASS SECONDS\n");
    return 2;
  }
  g_className = argv[1];
  const DWORD end = GetTickCount() + static_cast<DWORD>(atoi(argv[2])) * 1000;
  // In the multithreaded apartment a call waits for its answer without
  // handling the next event meanwhile: each is heard whole, in turn.
  CoInitializeEx(NULL, COINIT_MULTITHREADED);
  const DWORD flags = WINEVENT_OUTOFCONTEXT | WINEVENT_SKIPOWNPROCESS;
  HWINEVENTHOOK alerts =
      SetWinEventHook(EVENT_SYSTEM_ALERT, EVENT_SYSTEM_ALERT, NULL, OnEvent, 0, 0, flags);
  HWINEVENTHOOK changes = SetWinEventHook(EVENT_OBJECT_NAMECHANGE, EVENT_OBJECT_VALUECHANGE, NULL,
                                          OnEvent, 0, 0, flags);
  if (!alerts || !changes) {
    fprintf(stderr, "SetWinEventHook failed: %lu\n", GetLastError());
    return 3;
  }
  printf("ready\n");
  fflush(stdout);
  SetTimer(NULL, 0, 100, NULL);
  MSG msg;
  while (static_cast<LONG>(GetTickCount() - end) < 0 && GetMessageA(&msg, NULL, 0, 0) > 0) {
    DispatchMessageA(&msg);
    if (g_heard && !IsWindow(g_heard))
      break;
  }
  UnhookWinEvent(changes);
  UnhookWinEvent(alerts);
  CoUninitialize();
  return 0;
}
