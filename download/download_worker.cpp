#include "download/download_worker.h"

#include "download/download_to_file.h"
#include "download/package_source.h"
#include "download/verify_package.h"
#include "install/fs_helpers.h"
#include "progress/progress_text.h"
#include "shell/state.h"
#include "shell/system_library.h"
#include "shell/text.h"
#include "shell/status.h"

namespace {

const int kMinimumUrlLength = 5;

bool IsPresent(const char* url) {
  return TextLength(url) >= kMinimumUrlLength;
}

// The downloaded package at `path`, open so that nobody can change it, when
// it may be run; otherwise NULL: the file is deleted (nobody can use
// untrusted content) and the reason shown.
HANDLE OpenTrustedPackage(const char* path, const char* sha256Pin) {
  HANDLE file = OpenPackage(path);
  if (file == INVALID_HANDLE_VALUE) {
    // Missing though the download reported success (Wine's urlmon does
    // when its last copy fails), or held by someone else: it did not
    // arrive.
    const DWORD error = GetLastError();
    DeleteFileA(path);
    ShowStatusError(STATUS_TAG_DOWNLOAD, static_cast<DWORD>(HRESULT_FROM_WIN32(error)));
    return NULL;
  }
  // Shorter than the server announced, or than the cabinet says it is with
  // its signature: cut short on the way, a download failure whatever its
  // contents would make of it. (A connection closed early still ends in
  // success.) Longer is the trust check's to judge.
  const DWORD size = GetFileSize(file, NULL);
  const DWORD length = CabinetLength(file);
  const bool whole = size >= g_progressMax && (!length || size >= length);
  const HRESULT trust = whole && length
                            ? CheckPackageTrust(file, path, sha256Pin, kSignerPins, kRequireSignature,
                                                kSignedNotBefore)
                            : INET_E_DOWNLOAD_FAILURE;
  if (whole && length && trust == S_OK)
    return file;
  CloseHandle(file);  // and with it the file
  if (!whole)
    ShowStatusError(STATUS_TAG_DOWNLOAD, static_cast<DWORD>(INET_E_DOWNLOAD_FAILURE));
  else if (!length)
    ShowStatusMessage(STATUS_TAG_EXTRACT);
  else
    ShowStatusError(STATUS_TAG_TRUST, static_cast<DWORD>(trust));
  return NULL;
}

}  // namespace

const char* ChoosePackageUrl(const char* url32, const char* url64, const char* urlArm64,
                             LookUpRoutineFn lookUp) {
  typedef BOOL(WINAPI * IsWow64Process2Fn)(HANDLE, USHORT*, USHORT*);
  typedef BOOL(WINAPI * IsWow64ProcessFn)(HANDLE, PBOOL);
  typedef HRESULT(WINAPI * GetMachineTypeAttributesFn)(USHORT, MACHINE_ATTRIBUTES*);
  // This 32-bit process runs under WOW64 on x64 and on ARM64 Windows
  // alike; IsWow64Process2 (from Windows 10 on, and so on every ARM64
  // Windows) tells them apart by naming the machine.
  BOOL x64 = FALSE;
  const IsWow64ProcessFn isWow64Process =
      LookUpRoutine<IsWow64ProcessFn>(lookUp, "IsWow64Process");
  if (isWow64Process)
    isWow64Process(GetCurrentProcess(), &x64);
  USHORT process, machine;
  const IsWow64Process2Fn isWow64Process2 =
      LookUpRoutine<IsWow64Process2Fn>(lookUp, "IsWow64Process2");
  if (isWow64Process2 && isWow64Process2(GetCurrentProcess(), &process, &machine) &&
      machine == IMAGE_FILE_MACHINE_ARM64) {
    if (IsPresent(urlArm64))
      return urlArm64;
    // Windows 11 runs x64 programs there, Windows 10 only x86 ones.
    const GetMachineTypeAttributesFn getAttributes =
        LookUpRoutine<GetMachineTypeAttributesFn>(lookUp, "GetMachineTypeAttributes");
    MACHINE_ATTRIBUTES attributes;
    if (!getAttributes || getAttributes(IMAGE_FILE_MACHINE_AMD64, &attributes) != S_OK ||
        !(attributes & UserEnabled))
      x64 = FALSE;
  }
  const char* url = x64 && IsPresent(url64) ? url64 : url32;
  return IsPresent(url) ? url : NULL;
}

DWORD WINAPI WatchForStall(LPVOID wait) {
  DWORD seen = 0;
  DWORD silence = 0;
  while (!g_downloadEnd) {
    reinterpret_cast<WaitFn>(wait)(kStallCheckInterval);
    const DWORD received = g_received;
    if (received == kAllReceived)
      break;
    silence = received == seen ? silence + kStallCheckInterval : 0;
    seen = received;
    if (silence >= kStallTimeout && AbandonDownload(true))
      ShowStatusError(STATUS_TAG_DOWNLOAD, static_cast<DWORD>(INET_E_CONNECTION_TIMEOUT));
  }
  return 0;
}

DWORD WINAPI DownloadThreadProc(LPVOID parameter) {
  char* const path = static_cast<char*>(parameter);
  const char* url = ChoosePackageUrl(kPackage32, kPackage64, kPackageArm64, LookUpKernelRoutine);
  if (!url) {
    ShowStatusMessage(STATUS_TAG_NO_ADDRESS);
    return 0;
  }
  if (!MakeUniqueTempName(g_workDir, "ZVinsF", path)) {
    // The name would not fit, or none was free.
    ShowStatusError(STATUS_TAG_DOWNLOAD, static_cast<DWORD>(LastErrorAsHresult()));
    return 0;
  }
  // Beside the download, never waited for: its verdict is nobody's.
  if (kRequireSignature)
    CloseHandle(CreateThread(NULL, 0, WarmUpTrust, NULL, 0, NULL));
  CloseHandle(CreateThread(NULL, 0, WatchForStall, reinterpret_cast<LPVOID>(Sleep), 0, NULL));
  const HRESULT result = DownloadToFile(url, path, OnDownloadProgress);
  // Given up (a stall, a close): however it ended, nothing of it counts.
  if (g_downloadEnd != kDownloadReturned) {
    DeleteFileA(path);
    return 0;
  }
  if (result != S_OK) {
    // Nothing of a failed download is kept, not even in the work directory.
    DeleteFileA(path);
    ShowStatusError(STATUS_TAG_DOWNLOAD, static_cast<DWORD>(result));
    return 0;
  }
  // Checked here, not on the window's thread, so that the window keeps
  // painting while a large package is hashed.
  g_checkingPackage = 1;
  HANDLE file = OpenTrustedPackage(path, url + TextLength(url) + 1);
  if (!file)
    return 0;
  g_cabinetFile = file;
  if (!PostMessageA(g_mainWnd, WM_DOWNLOAD_COMPLETE, 0, reinterpret_cast<LPARAM>(path))) {
    // Unless the install step has taken it already.
    file = TakeCabinetFile();
    if (file)
      CloseHandle(file);
    ShowStatusMessage(STATUS_TAG_POST);
  }
  return 0;
}
