// The progress window: class, placement and window procedure.
#pragma once
#include <windows.h>

extern const char kMainClassName[];
extern const char kMainWindowTitle[];

void RegisterMainClass(HINSTANCE instance);
// Creates and shows the window; 1 when it exists, 0 when creation failed.
// Stores the handle (or 0) in g_mainWnd.
int CreateMainWindow(const char* title, HINSTANCE instance);
// The window rectangle for a screen: half the shorter side wide (at least
// 300), a quarter of that high, centred horizontally, its lower edge on the
// screen's horizontal centre line.
RECT PlaceMainWindow(const RECT& screen);
LRESULT CALLBACK MainWndProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
