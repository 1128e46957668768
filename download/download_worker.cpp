#include "download/download_worker.h"

#include "download/download_to_file.h"
#include "download/package_urls.h"
#include "install/fs_helpers.h"
#include "progress/progress_text.h"
#include "shell/state.h"
#include "shell/system_library.h"
#include "shell/status.h"

IsWow64ProcessFn g_isWow64Process;

namespace {

const int kMinimumUrlLength = 5;

bool IsPresent(const char* url) {
  return lstrlenA(url) >= kMinimumUrlLength;
}

}  // namespace

bool IsWow64() {
  g_isWow64Process = LookUpRoutine<IsWow64ProcessFn>(GetModuleHandleA("kernel32"), "IsWow64Process");
  if (!g_isWow64Process)
    return false;
  BOOL wow64 = FALSE;
  g_isWow64Process(GetCurrentProcess(), &wow64);
  return wow64 != FALSE;
}

const char* ChoosePackageUrl(const char* url32, const char* url64) {
  const char* url = IsPresent(url64) && IsWow64() ? url64 : url32;
  return IsPresent(url) ? url : NULL;
}

DWORD WINAPI DownloadThreadProc(LPVOID) {
  const char* url = ChoosePackageUrl(kPackageUrl32, kPackageUrl64);
  if (!url) {
    ShowStatusMessage(STATUS_TAG_NO_ADDRESS);
    return 0;
  }
  if (!MakeUniqueTempName(g_tempDir, "ZVinsF", g_cabinetPath)) {
    ShowStatusError(STATUS_TAG_DOWNLOAD, static_cast<DWORD>(HRESULT_FROM_WIN32(ERROR_FILENAME_EXCED_RANGE)));
    return 0;
  }
  const HRESULT result = DownloadToFile(url, g_cabinetPath, OnDownloadProgress);
  if (result != S_OK) {
    ShowStatusError(STATUS_TAG_DOWNLOAD, static_cast<DWORD>(result));
    return 0;
  }
  if (!PostMessageA(g_mainWnd, WM_DOWNLOAD_COMPLETE, 0, reinterpret_cast<LPARAM>(g_cabinetPath)))
    ShowStatusMessage(STATUS_TAG_POST);
  return 0;
}
