// Shared by the unit tests: the installer state back to its start.
#pragma once
#include <windows.h>

void ResetInstallerState();
// The status text, read under the lock.
void ReadStatus(WCHAR* text, int capacity, BYTE* errorShown);
