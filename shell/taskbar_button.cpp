#include "shell/taskbar_button.h"

#include <shobjidl.h>

namespace {

const CLSID kClsidTaskbarList = {0x56FDF344, 0xFD6D, 0x11D0, {0x95, 0x8A, 0x00, 0x60, 0x97, 0xC9, 0xA0, 0x90}};
const IID kIidTaskbarList3 = {0xEA1AFB91, 0x9E28, 0x4B86, {0x90, 0xE9, 0x9E, 0x9F, 0x8A, 0x5E, 0xEF, 0xAF}};

}  // namespace

void PrepareTaskbarButton(HWND hwnd) {
  ITaskbarList3* list;
  if (SUCCEEDED(CoCreateInstance(kClsidTaskbarList, NULL, CLSCTX_INPROC_SERVER, kIidTaskbarList3,
                                 reinterpret_cast<void**>(&list)))) {
    if (SUCCEEDED(list->HrInit()))
      g_taskbarList = list;
    else
      list->Release();
  }
  const UINT message = RegisterWindowMessageA("TaskbarButtonCreated");
  g_taskbarButtonCreated = message;
  ChangeWindowMessageFilterEx(hwnd, message, MSGFLT_ALLOW, NULL);
}

void ShowTaskbarProgress(HWND hwnd, BYTE failed, DWORD progress, DWORD progressMax) {
  ITaskbarList3* list = g_taskbarList;
  if (!list)
    return;
  TBPFLAG state = TBPF_NORMAL;
  if (failed) {
    // A full red bar, whatever had arrived.
    progress = progressMax = 1;
    state = TBPF_ERROR;
  } else if (!progressMax) {
    state = TBPF_INDETERMINATE;
  }
  // A value would end the moving display.
  if (progressMax)
    list->SetProgressValue(hwnd, progress, progressMax);
  list->SetProgressState(hwnd, state);
}

void ReleaseTaskbarButton() {
  if (g_taskbarList)
    g_taskbarList->Release();
  g_taskbarList = NULL;
}
