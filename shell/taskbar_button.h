// The progress on the window's taskbar button (Windows 7 on): the share
// downloaded, moving while the size is unknown, red on failure. Window
// thread only; whatever fails is ignored.
#pragma once
#include <windows.h>

#include "shell/state.h"

// g_taskbarButtonCreated (shell/state.h) is the message the shell sends
// once it has made (or made again) the window's button; 0 (WM_NULL) until
// registered, which then only asks for a repaint.

// Takes the shell's taskbar object, registers that message and lets it
// through to `hwnd`, which the installer's elevation would otherwise
// filter out.
void PrepareTaskbarButton(HWND hwnd);
// Shows the progress on the button of `hwnd`: `progress` of
// `progressMax`, moving while that is 0, red when `failed`.
void ShowTaskbarProgress(HWND hwnd, BYTE failed, DWORD progress, DWORD progressMax);
// Lets go of the shell's taskbar object.
void ReleaseTaskbarButton();
