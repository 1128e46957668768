// The client area as screen readers meet it: a progress bar whose value is
// the whole percentage in digits, or the failure, and whose name is the
// title, then the failure once there is one.
#pragma once
#include <windows.h>

// What the value says while the size is unknown (kept in g_percent).
const DWORD kNoPercent = ~0u;

// The answer to WM_GETOBJECT for OBJID_CLIENT (`flags` is its wParam): the
// platform's standard object for the client area of `hwnd` with the role,
// the value and the name put right. 0 when the accessibility library or
// the standard object cannot be had: the default answer then stands.
// Window thread.
LRESULT AnswerAccessibleObject(HWND hwnd, WPARAM flags);

// Tells screen readers that the client area changed (an EVENT_ code).
// Either thread.
void AnnounceProgress(DWORD event);
