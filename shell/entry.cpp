// The program's entry point: no language run-time start-up runs before it.
#include <objbase.h>

#include "download/download_to_file.h"
#include "install/work_directory.h"
#include "shell/accessible.h"
#include "shell/main_window.h"
#include "shell/state.h"
#include "shell/system_library.h"

namespace {

// The check lets go of the package within a chunk once the window is
// closed; this bounds only a worker stuck in a platform call that cannot
// be stopped (the platform's last copy, WinVerifyTrust), short enough
// that a close still feels immediate.
const DWORD kCheckEndingWait = 2000;

// The elevated process follows no junction or other redirection that a
// standard user made, such as one planted in the user's own Internet
// cache, where the platform's download writes first. Systems that do not
// know the policy refuse it, which changes nothing.
void EnforceRedirectionTrust() {
  typedef BOOL(WINAPI * SetProcessMitigationPolicyFn)(PROCESS_MITIGATION_POLICY, PVOID, SIZE_T);
  PROCESS_MITIGATION_REDIRECTION_TRUST_POLICY policy = {};
  policy.EnforceRedirectionTrust = 1;
  SetProcessMitigationPolicyFn setPolicy =
      LookUpKernelRoutine<SetProcessMitigationPolicyFn>("SetProcessMitigationPolicy");
  if (setPolicy)
    setPolicy(ProcessRedirectionTrustPolicy, &policy, sizeof(policy));
}

}  // namespace

extern "C" int RunInstaller() {
  // The waiting ".", written here rather than by an initialiser (see
  // state.cpp); no other thread runs yet.
  g_statusText[0] = L'.';
  g_percent = kNoPercent;
  g_percentAnnounced = kNoPercent;
  EnforceRedirectionTrust();
  RestrictDllSearchToSystem();
  const HINSTANCE instance = GetModuleHandleA(NULL);
  g_instance = instance;
  CoInitialize(NULL);
  RegisterMainClass(instance);
  if (!CreateMainWindow(kMainWindowTitle, instance))
    return ERROR_INSTALL_FAILURE;

  MSG msg;
  msg.wParam = 0;
  // The flag is tested before every fetch, so the loop ends right after the
  // message whose handler ran the setup program.
  while (!g_setupDone && GetMessageA(&msg, NULL, 0, 0) > 0) {
    TranslateMessage(&msg);
    DispatchMessageA(&msg);
  }
  const UINT exitCode = g_setupDone ? g_setupExitCode : static_cast<UINT>(msg.wParam);
  // Once the package's bytes are all in, the worker holds it: the
  // platform's last copy and its cache entry, then the check, which stops
  // at its next chunk now that the window is closed. The worker is waited
  // for to let go, so that everything is removed outright; one stuck in
  // the platform for longer ends by itself (the window it would report to
  // is gone), and what it still holds goes at the next restart. A
  // download still under way is not waited for.
  LockStatus();
  const bool arrived = g_checkingPackage || (g_progressMax && g_progress >= g_progressMax);
  UnlockStatus();
  if (arrived)
    WaitForSingleObject(g_downloadThread, kCheckEndingWait);
  // Every ending leaves nothing behind, a download cut short included: its
  // copy in the user's Internet cache goes too.
  AbandonDownload(false);
  if (g_downloadEnd == kDownloadAbandoned)
    RemoveUnfinishedDownload();
  RemoveWorkDirectory();
  CoUninitialize();
  // Also ends the download worker if it still runs.
  TerminateProcess(GetCurrentProcess(), exitCode);
  return static_cast<int>(exitCode);
}
